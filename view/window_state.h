// The window's behaviour, whatever draws it: its title and failure state, the
// keys and the close box, how its controls lie over one another, how each is
// coloured, and which control shows which control of the model. The Qt and
// Win32 views ask these and only draw.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "controls/controls.h"
#include "view/layout.h"
#include "view/window_text.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace view {

// The title and the failure dialog. A failed action marks the title ("not
// sent", "cut short") until an action completes, and queues one dialog, shown
// after the event has returned; a second failure before it shows replaces its
// text. From the failure until the dialog is closed the window takes no
// operator event: the rest of the failed gesture (a held arrow's repeats, the
// clicks queued behind it) must not reach the port.
class WindowState {
public:
    explicit WindowState(std::string caption) : caption_(std::move(caption)) {}

    std::string title() const { return windowTitle(caption_, portLabel_, mark_); }
    void setPortLabel(std::string label) { portLabel_ = std::move(label); }

    // True where the view must queue the dialog: none is queued yet.
    bool failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery);
    // An action reached the port. True where the title changed (the mark went).
    bool reached();
    bool accepting() const { return !awaitingDialog_; }

    struct FailureDialog {
        std::string title;    // "PX7702_RevA: port error"
        std::string message;  // the port's reason
        std::string sent;     // what of the action reached the port
    };
    // The queued dialog shows now, with the last failure's text.
    FailureDialog showFailure();
    // The operator closed it: events are taken again.
    void failureClosed() { awaitingDialog_ = false; }

private:
    std::string caption_;
    std::string portLabel_;
    std::string mark_;
    FailureDialog failure_;
    bool queued_ = false;
    bool awaitingDialog_ = false;
};

// What a key, or the close box, does to a window: the button it clicks, as its
// click would (refused while a failure awaits its dialog). Alt with a button's
// access key (the letter after '&') clicks it; Ctrl+Q, the close box and the
// system's Close (Alt+F4) click E&xit, so that every way out runs Exit.
std::optional<ControlRef> accessKeyButton(const WindowSpec& window, char32_t letter);
ControlRef exitButton(const WindowSpec& window);
// The letter after '&' in a caption, upper case; 0 for none.
char32_t accessKeyOf(std::string_view caption);

// How the controls lie over one another, the topmost first, as in the windows
// these come from: a later row over an earlier one, and the labels and
// rectangles, which are drawn on the window itself there, beneath every control.
std::vector<std::size_t> stackingOrder(const WindowSpec& window);

// A control's look with every default filled in.
struct ResolvedLook {
    Rgb text;
    // A button without one takes the system's button face.
    std::optional<Rgb> back;
    double points;  // 8 where the table gives none
    bool bold;
    Align align;
    bool wrap;
};
ResolvedLook resolvedLook(const WindowSpec& window, const ControlSpec& control);

// Which row shows which control of the model, and what each row's event runs.
class ControlIndex {
public:
    ControlIndex(const commands::Descriptor& program, const WindowSpec& window);
    const ControlBinding& binding(std::size_t row) const { return bindings_[row]; }
    // The row bound to a model control; nullopt where the window shows none.
    std::optional<std::size_t> rowOf(controls::ControlId id) const;

private:
    std::vector<ControlBinding> bindings_;
    std::map<std::pair<int, int>, std::size_t> rows_;
};

}  // namespace view
