#include "frontend/window_start.h"

#include "frontend/manual.h"
#include "frontend/settings.h"
#include "ports/options.h"
#include "ports/trace_port.h"

#ifndef PX_VERSION
#define PX_VERSION "0"
#endif

namespace frontend {

std::variant<int, WindowStart> startWindowProgram(const commands::Descriptor& descriptor,
                                                  const std::vector<std::string>& arguments, const Say& say,
                                                  bool toolkitOptions) {
    const std::string name(descriptor.executable);
    CommandLine line;
    try {
        line = parseCommandLine(arguments);
        if (!toolkitOptions && !line.toolkit.empty()) {
            throw UsageError(line.toolkit.front() + " is an option of the Qt windows on Linux; these windows are " +
                             "Windows' own");
        }
        if (line.help) {
            say(helpText(windowManual(descriptor)), false);
            return 0;
        }
        if (line.version) {
            say(name + " " + PX_VERSION + "\n", false);
            return 0;
        }
        applySettings(line, readUserSettings());
        if (!line.notice.empty()) say(name + ": " + ports::displayable(line.notice) + "\n", true);
        script::Session session = script::openSession(descriptor, {line.port, line.trace, line.checkAck, line.address});
        std::string title = portTitle(session.port.label, line.address);
        return WindowStart{std::move(line), std::move(session), std::move(title)};
    } catch (const UsageError& e) {
        say(name + ": " + ports::displayable(e.what()) + "\n", true);
        return 2;
    } catch (const ports::ConfigError& e) {
        say(name + ": " + ports::displayable(withPortSource(e.what(), line)) + "\n", true);
        return 2;
    } catch (const std::exception& e) {
        say(name + ": internal error: " + ports::displayable(e.what()) + "\n", true);
        return 1;
    }
}

std::optional<CommandLine> chooserRequest(const std::vector<std::string>& arguments) {
    try {
        CommandLine line = parseCommandLine(arguments);
        if (line.help || line.version || !line.choosePort) return std::nullopt;
        applySettings(line, readUserSettings());
        return line;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int endWindowProgram(const commands::Descriptor& descriptor, WindowStart& start, const Say& say, int status,
                     int signal) {
    if (ports::TracePort* trace = start.session.port.trace; trace != nullptr) trace->close();
    while (auto notice = start.session.port.takeNotice()) {
        say(std::string(descriptor.executable) + ": warning: " + ports::displayable(*notice) + "\n", true);
    }
    return signal != 0 ? 128 + signal : status;
}

}  // namespace frontend
