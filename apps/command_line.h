// The programs' command line: --port, --trace, --help, --version.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace apps {

inline constexpr const char* kDefaultPort = "ppdev:dev=/dev/parport0";

struct CommandLine {
    std::string port = kDefaultPort;
    std::string trace;  // empty: no trace
    bool help = false;
    bool version = false;
    bool exitWhenShown = false;  // start-up checks: quit once the window has been drawn
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// arguments exclude the program name. Throws UsageError with one line.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string usage(const std::string& program);

}  // namespace apps
