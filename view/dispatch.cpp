#include "view/dispatch.h"

#include "bus/port.h"
#include "bus/text.h"

#include <cstdint>
#include <exception>

namespace view {

void dispatch(commands::Program& program, const EventSources& sources, EventView& view, std::string_view label,
              std::string_view shown, const std::function<void()>& run) {
    // Once a stop is asked for, no input still queued starts another frame.
    if (sources.stopping && sources.stopping()) {
        view.endGesture();
        program.cmdExit_Click();
        return;
    }
    if (sources.actionListener) sources.actionListener(std::string(label));
    const std::uint64_t before = program.portAccesses();
    program.beginAction();
    try {
        run();
    } catch (const bus::PortError& e) {
        view.endGesture();
        view.failed(shown, bus::displayable(e.what()), program.delivery(e));
        return;
    } catch (const std::exception& e) {
        view.endGesture();
        view.failed(shown, "Internal error: " + bus::displayable(e.what()), program.delivery(bus::PortError(e.what())));
        return;
    }
    if (program.portAccesses() != before) view.reached();
    if (sources.notices) {
        if (const auto notice = sources.notices()) view.notice(bus::displayable(*notice));
    }
}

}  // namespace view
