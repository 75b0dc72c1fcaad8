// SIGINT, SIGTERM and SIGHUP, noted and acted on between actions, so that a
// frame that has begun always completes: the handler only records the signal
// and wakes a pipe that pxctl's input loop or the window's event loop watches.
#pragma once

#include <string>

namespace apps {

class SignalWatch {
public:
    // Installs the handlers; one watch at a time, for the life of the program.
    SignalWatch();
    ~SignalWatch();  // puts the previous handlers back
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // The first signal noted, or 0.
    int pending() const;

    // Readable once a signal has been noted.
    int fd() const;

    // "SIGTERM".
    static std::string name(int signal);
};

// Reads standard input a line at a time, and gives up as soon as a signal is
// noted instead of waiting for the next line.
class LineReader {
public:
    explicit LineReader(const SignalWatch& signals) : signals_(signals) {}

    // False at the end of input, on a read error, or once a signal is noted.
    bool next(std::string& line);

private:
    const SignalWatch& signals_;
    std::string buffer_;
    bool ended_ = false;
};

}  // namespace apps
