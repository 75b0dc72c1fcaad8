// What both programs' main functions do, for one program's variant.
#pragma once

namespace apps {

enum class Which { A, B };

int run(Which which, int argc, char** argv);

}  // namespace apps
