// Prints where every control of a program's window lies, in pixels at 96 dots
// per inch, one line each: "NAME INDEX LEFT TOP WIDTH HEIGHT". The window
// sessions click at these places, on either view. With --accessible, what a
// screen reader is to be told of each control that has a name of its own:
// "NAME<TAB>DESCRIPTION".
// Usage: view_geometry [--accessible] a|b
#include "commands/descriptor.h"
#include "view/accessible.h"
#include "view/layout.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    const bool accessible = argc == 3 && std::string_view(argv[1]) == "--accessible";
    if (argc != 2 && !accessible) {
        std::fputs("usage: view_geometry [--accessible] a|b\n", stderr);
        return 2;
    }
    const std::string_view key = argv[argc - 1];
    for (const commands::Descriptor* program : commands::programs()) {
        if (program->key != key) continue;
        for (const view::ControlSpec& c : view::windowFor(*program).controls) {
            if (accessible) {
                const view::AccessibleText text = view::accessibleText(*program, c);
                if (!text.name.empty()) std::printf("%s\t%s\n", text.name.c_str(), text.description.c_str());
                continue;
            }
            const view::PixelRect r = view::toPixels(c, view::pixelsPerTwip(96));
            std::printf("%s %d %d %d %d %d\n", c.name.c_str(), c.index, r.left, r.top, r.width, r.height);
        }
        return 0;
    }
    std::fprintf(stderr, "view_geometry: no program %s\n", argv[argc - 1]);
    return 2;
}
