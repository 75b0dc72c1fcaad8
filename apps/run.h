// What both programs' main functions do, for one program's variant.
#pragma once

#include "commands/program.h"

namespace apps {

int run(commands::ProgramKind kind, int argc, char** argv);

}  // namespace apps
