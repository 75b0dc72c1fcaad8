// The main function of every window program; PX_EXECUTABLE names the program
// (cmake/programs.cmake), and its entry in commands/ says everything else.
#include "ui/run.h"
#include "commands/descriptor.h"

#include <cstdio>

int main(int argc, char** argv) {
    for (const commands::Descriptor* program : commands::programs()) {
        if (program->executable == PX_EXECUTABLE) return ui::run(*program, argc, argv);
    }
    std::fprintf(stderr, "%s: no program is built under this name\n", PX_EXECUTABLE);
    return 1;
}
