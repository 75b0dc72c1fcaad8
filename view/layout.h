// The windows as data: every control with its name, index, kind, caption, tool
// tip, geometry in twips and look. The window is built from these tables.
#pragma once

#include "commands/descriptor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace view {

enum class Kind : std::uint8_t { ScrollBar, TextBox, Button, Label, Rectangle };
enum class Align : std::uint8_t { Left, Center };

struct Rgb {
    std::uint8_t r, g, b;
    friend bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb kWindowYellow{255, 255, 192};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kRed{255, 0, 0};

struct Look {
    std::optional<Rgb> text;
    std::optional<Rgb> back;        // a button's face, a label's or text box's background
    bool windowFrameBack = false;   // the system's window-frame colour behind the text
    double points = 0;              // 0: the default font
    bool bold = false;
    Align align = Align::Left;
    bool wrap = false;
};

struct ControlSpec {
    std::string name;
    int index = -1;  // control arrays only
    Kind kind;
    std::string caption;
    std::string toolTip;
    int left, top, width, height;  // twips from the client area's top-left
    Look look;
    int max = 0;          // scroll bars
    bool hidden = false;  // never shown
    // A label: the control it describes, for assistive technology.
    std::string describes = {};
    int describesIndex = -1;
    int smallChange = 1;  // scroll bars: an arrow's step
    int largeChange = 1;  // scroll bars: a click on the track

    std::string fullName() const { return index < 0 ? name : name + "(" + std::to_string(index) + ")"; }
};

struct WindowSpec {
    std::string name;
    std::string caption;
    int width, height;  // client area, twips
    Rgb back;
    std::vector<ControlSpec> controls;

    const ControlSpec* find(const std::string& name, int index = -1) const;
};

WindowSpec windowA();  // frmPX7700_02_RevA
WindowSpec windowB();  // Form1

// Where a control lies in pixels at `pixelsPerTwip` (1/15 at 96 dots per inch).
// Each edge is rounded on its own, so that controls that meet in twips meet in
// pixels too.
struct PixelRect {
    int left, top, width, height;
};
int toPixels(int twips, double pixelsPerTwip);
PixelRect toPixels(const ControlSpec& control, double pixelsPerTwip);
inline double pixelsPerTwip(int dotsPerInch) { return dotsPerInch / 1440.0; }

// The window table of a program.
WindowSpec windowFor(const commands::Descriptor& program);

// "MS Sans Serif" is not on Linux; this face, at the same size and weight, stands in.
inline constexpr const char* kFallbackFace = "Liberation Sans";
// On Windows, the TrueType face drawn from "MS Sans Serif", which scales with the DPI.
inline constexpr const char* kWindowsFace = "Microsoft Sans Serif";

}  // namespace view
