// What both programs' main functions do, for one program.
#pragma once

#include "commands/descriptor.h"

namespace apps {

int run(const commands::Descriptor& program, int argc, char** argv);

}  // namespace apps
