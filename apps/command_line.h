// The command line of the windows and of pxctl: one parser, one set of port
// strings. Each front end accepts its own few options besides the shared ones.
#pragma once

#include "ports/factory.h"
#include "script/actions.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace apps {

enum class Front { Window, Pxctl };

struct CommandLine {
    std::string port = ports::defaultPort();
    std::string trace;  // empty: no trace
    bool help = false;
    bool version = false;
    bool exitWhenShown = false;  // window: quit once the window has been drawn (start-up checks)
    std::vector<std::string> toolkit;  // window: Qt's own options, passed on to Qt as given
    std::string program = "b";         // pxctl: which program's handlers run
    bool json = false;                 // pxctl: one JSON object per action
    std::string listen;                // pxctl serve: ADDR:PORT; empty: the default
    bool keepGoing = false;            // pxctl -: a bad line is reported and the session goes on
    bool checkAck = false;             // release and check the device's acknowledge slots
    std::vector<std::string> actions;  // pxctl: the words after the options; "-" reads standard input
};

using script::UsageError;

// arguments exclude the program name. Throws UsageError with one line.
CommandLine parseCommandLine(const std::vector<std::string>& arguments, Front front = Front::Window);

}  // namespace apps
