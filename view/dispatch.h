// The one place an operator event reaches the program, whatever draws the
// window: once a stop is asked for the event runs Exit instead; the trace is
// told the action's name before it runs; a port failure ends the gesture and
// is reported with what of the action reached the port; an action that reached
// the port takes the title's mark away; a notice (a trace that could not be
// written) is passed on once.
#pragma once

#include "commands/program.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace view {

// What the window's owner tells every event.
struct EventSources {
    std::function<bool()> stopping;                         // a signal was noted
    std::function<void(const std::string&)> actionListener;  // the trace: "code2=200", "mid"
    std::function<std::optional<std::string>()> notices;     // a problem that is not a port failure
};

// What a view does around an event.
class EventView {
public:
    // A failure ends the press or drag under way (a held arrow stops repeating).
    virtual void endGesture() = 0;
    // shown: the control as the dialog names it; message: the port's reason.
    virtual void failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery) = 0;
    // The action reached the port.
    virtual void reached() = 0;
    virtual void notice(const std::string& text) = 0;

protected:
    ~EventView() = default;
};

// label: the action as pxctl and the trace name it; shown: as the dialog does.
void dispatch(commands::Program& program, const EventSources& sources, EventView& view, std::string_view label,
              std::string_view shown, const std::function<void()>& run);

}  // namespace view
