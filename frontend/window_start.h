// What both window programs do around their window, whatever draws it: read
// the command line, answer --help and --version, open the session, and
// afterwards close the trace and say what the port still had to say.
#pragma once

#include "frontend/command_line.h"
#include "commands/descriptor.h"
#include "script/session.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace frontend {

// Says text to the operator: standard output, or standard error for an error.
// A Windows GUI program without a console shows a message box instead.
using Say = std::function<void(const std::string& text, bool error)>;

struct WindowStart {
    CommandLine line;
    script::Session session;
    std::string portTitle;  // the title's port: "ppdev /dev/parport0, device at 0x2d"
};

// The session to show, or the exit status where the program ends before a
// window (help, version: 0; a bad option or port string: 2). toolkitOptions:
// the toolkit takes options of its own (Qt's -platform ...); where it does not,
// they are refused as the options of the other system's windows.
std::variant<int, WindowStart> startWindowProgram(const commands::Descriptor& descriptor,
                                                  const std::vector<std::string>& arguments, const Say& say,
                                                  bool toolkitOptions);

// --choose-port: the command line, the user's settings applied, where the
// chooser is to come first; nullopt where it is not asked for, or where the
// command line is bad or asks for help, which the window's start then says.
std::optional<CommandLine> chooserRequest(const std::vector<std::string>& arguments);

// Hands the window what it shows of the session: the port in its title, the
// port's notices, each action's name for the trace.
template <class Window>
void showSessionIn(Window& window, WindowStart& start) {
    window.setPortLabel(start.portTitle);
    window.setNoticeSource([&port = start.session.port] { return port.takeNotice(); });
    if (ports::TracePort* trace = start.session.port.trace; trace != nullptr) {
        window.setActionListener([trace](const std::string& action) { trace->setAction(action); });
    }
}

// After the window: the trace closed and complete, the port's last notices
// said; the exit status, 128 + the signal's number where one ended it.
int endWindowProgram(const commands::Descriptor& descriptor, WindowStart& start, const Say& say, int status,
                     int signal);

}  // namespace frontend
