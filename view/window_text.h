// What every view of the windows says and how the keyboard goes through them:
// the failure dialog's sentence, told from what reached the port, and the Tab
// order. The Qt view and any other build their windows from these.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "controls/controls.h"
#include "view/layout.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace view {

// What of the action reached the port: "its frame was not sent", "it was cut
// short after 17 of 59 writes", ...
std::string deliverySentence(const commands::Delivery& delivery);

// The window's title: its caption, the port it uses, and the mark a failed
// action left until the next one completes ("PX7702_RevA — sim — not sent").
std::string windowTitle(std::string_view caption, std::string_view port, std::string_view mark);
// The failure dialog's title.
std::string failureTitle(std::string_view caption);

// What a control's event runs: a button's Click or a code bar's Change is a
// command; a scroll bar or text box is bound to its control in the model.
// Throws std::logic_error for a button without a command or a bar or box
// without a model control: a table and a program that do not match.
struct ControlBinding {
    const commands::Command* command = nullptr;
    std::optional<controls::ControlId> model;
    std::string shown;  // a button as the dialog names it: its caption without '&'
};
ControlBinding bindingFor(const commands::Descriptor& program, const ControlSpec& control);

// A scroll bar's change to `value`, as the trace and pxctl name it ("code1=200",
// "bit:3=1") and as the dialog does ("the channel 1 code bar, at 200").
struct ChangeNames {
    std::string label, shown;
};
ChangeNames changeNames(const ControlBinding& bar, int value);

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
