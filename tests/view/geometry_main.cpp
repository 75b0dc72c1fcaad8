// Prints where every control of a program's window lies, in pixels at 96 dots
// per inch, one line each: "NAME INDEX LEFT TOP WIDTH HEIGHT". The window
// sessions click at these places, on either view.
// Usage: view_geometry a|b
#include "commands/descriptor.h"
#include "view/layout.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: view_geometry a|b\n", stderr);
        return 2;
    }
    for (const commands::Descriptor* program : commands::programs()) {
        if (program->key != std::string_view(argv[1])) continue;
        for (const view::ControlSpec& c : view::windowFor(*program).controls) {
            const view::PixelRect r = view::toPixels(c, view::pixelsPerTwip(96));
            std::printf("%s %d %d %d %d %d\n", c.name.c_str(), c.index, r.left, r.top, r.width, r.height);
        }
        return 0;
    }
    std::fprintf(stderr, "view_geometry: no program %s\n", argv[1]);
    return 2;
}
