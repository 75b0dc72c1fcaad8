// What assistive technology is told of each control: a name that says which
// control it is ("Channel 1 code", "Write bit 25 (A6)") and a description that
// says what it does. The visible captions and tool tips stay as they are.
#pragma once

#include "commands/descriptor.h"
#include "view/layout.h"

#include <string>

namespace view {

struct AccessibleText {
    std::string name;
    std::string description;
};

// Empty for labels and rectangles, whose caption is their name.
AccessibleText accessibleText(const commands::Descriptor& program, const ControlSpec& control);

}  // namespace view
