// What every view of the windows says and how the keyboard goes through them:
// the failure dialog's sentence, told from what reached the port, and the Tab
// order. The Qt view and any other build their windows from these.
#pragma once

#include "commands/program.h"
#include "view/layout.h"

#include <string>
#include <string_view>
#include <vector>

namespace view {

// What of the action reached the port: "its frame was not sent", "it was cut
// short after 17 of 59 writes", ...
std::string deliverySentence(const commands::Delivery& delivery);

// The failure dialog's second line. action: a button's caption ("Mid Scale"),
// or a bar's place and value ("the channel 1 code bar, at 1").
std::string failureText(std::string_view action, const commands::Delivery& delivery);

// Tab follows the work: the code bars, the channel and preset buttons, Run,
// Read, /SHDN and Exit (those the window has), then the bit bars row by row
// from the left. The first is where the keyboard starts.
struct ControlRef {
    std::string name;
    int index = -1;
    friend bool operator==(const ControlRef&, const ControlRef&) = default;
};
std::vector<ControlRef> tabOrder(const WindowSpec& window);

}  // namespace view
