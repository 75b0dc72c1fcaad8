// What a window program's main function does, whatever draws its window: the
// Qt view's run on Linux (ui/qt/run.cpp), the Win32 view's on Windows
// (ui/win32/run.cpp).
#pragma once

#include "commands/descriptor.h"

namespace ui {

int run(const commands::Descriptor& program, int argc, char** argv);

}  // namespace ui
