// The command line of the windows and of pxctl: one parser, one set of port
// strings. Each front end accepts its own few options besides the shared ones.
#pragma once

#include "ports/factory.h"
#include "ports/trace_port.h"
#include "script/actions.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace frontend {

enum class Front { Window, Pxctl };

struct CommandLine {
    std::string port = ports::defaultPort();
    std::string trace;  // empty: no trace
    bool help = false;
    bool version = false;
    bool choosePort = false;     // window: the port chooser first, then the window on the port chosen
    bool exitWhenShown = false;  // window: quit once the window has been drawn (start-up checks)
    std::vector<std::string> toolkit;  // window: Qt's own options, passed on to Qt as given
    std::string program = "b";         // pxctl: which program's handlers run
    bool json = false;                 // pxctl: one JSON object per action
    std::string listen;                // pxctl serve: ADDR:PORT; empty: the default
    std::string vxi11;                 // pxctl serve: the VXI-11 channel's ADDR:PORT, or off; empty: the default
    bool noAnnounce = false;           // pxctl serve: no DNS-SD announcement
    std::optional<int> clients;        // pxctl serve: clients served at once (--clients)
    std::optional<int> idleTimeout;    // pxctl serve: seconds a silent client is kept; 0: for ever
    bool keepGoing = false;            // pxctl -: a bad line is reported and the session goes on
    bool probe = false;                // pxctl detect: probe the ports named after it
    bool scan = false;                 // pxctl detect: every address on the one port named
    bool checkAck = false;             // release and check the device's acknowledge slots
    std::uint8_t address = 0x2c;       // the device's 7-bit address (--address)
    // Which of the user's defaults the command line set itself; the rest come
    // from the environment, the settings file or the built-in default.
    bool portGiven = false;
    bool addressGiven = false;
    bool checkAckGiven = false;
    std::string portFrom;  // where a port not given came from: "PX77XX_PORT", "FILE:LINE"; "" otherwise
    std::string notice;    // what the front end tells before it starts: a settings file it could not read
    std::vector<std::string> actions;  // pxctl: the words after the options; "-" reads standard input
};

using script::UsageError;

// "0x2d": a 7-bit address as every message writes it.
std::string addressText(std::uint8_t address);
// "0x2d" for an address other than 0x2c, which frames have always carried;
// empty for 0x2c. Titles, traces and JSON name it where it is not the default.
std::string addressNote(std::uint8_t address);
// The port as the window's title names it, with an address other than the
// default: "sim, device at 0x2d".
std::string portTitle(const std::string& label, std::uint8_t address);
// The decoded trace's line for it: "device address 0x2d (address bytes 0x5a and 0x5b)".
using ports::addressHeader;

// arguments exclude the program name. Throws UsageError with one line.
CommandLine parseCommandLine(const std::vector<std::string>& arguments, Front front = Front::Window);

}  // namespace frontend
