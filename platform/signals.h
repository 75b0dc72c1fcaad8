// SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and the console
// closing), noted and acted on between actions, so that a frame that has begun
// always completes: the handler only records the signal and wakes whatever
// waits (pxctl's input and output, the window's event loop). One interface,
// one implementation per system: posix/signals.cpp, windows/signals.cpp.
#pragma once

#include <cstddef>
#include <streambuf>
#include <string>
#include <vector>

namespace platform {

class SignalWatch {
public:
    // Installs the handlers; one watch at a time, for the life of the program.
    SignalWatch();
    ~SignalWatch();  // puts the previous handlers back
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // The first signal noted, or 0.
    int pending() const;

    // Readable once a signal has been noted (POSIX; -1 on Windows).
    int fd() const;

    // Signalled once a signal has been noted: an event HANDLE for a window's
    // message loop to wait on (Windows; nullptr on POSIX).
    void* event() const;

    // "SIGTERM", "Ctrl-C".
    static std::string name(int signal);
};

// Whether standard input is a terminal (a console), where a session prompts.
bool standardInputIsTerminal();

// Standard output and error as pxctl writes them: a reader that goes away
// fails the next write (EPIPE) instead of ending the program by SIGPIPE; on
// Windows, bytes as they are (no CRLF) and a console that shows UTF-8.
void prepareStandardStreams();

// The program's arguments after its name, in UTF-8 (on Windows taken from the
// wide command line, so that file names in any language arrive whole).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Reads standard input a line at a time, and gives up as soon as a signal is
// noted instead of waiting for the next line. A line is at most kMaxLine bytes:
// a longer one is dropped as it arrives (memory stays bounded, the time linear)
// and given as empty with tooLong() set.
class LineReader {
public:
    static constexpr std::size_t kMaxLine = 65536;

    explicit LineReader(const SignalWatch& signals) : signals_(signals) {}

    // False at the end of input, on a read error, or once a signal is noted.
    bool next(std::string& line);

    // The line next() gave last was longer than kMaxLine.
    bool tooLong() const { return tooLong_; }

private:
    // More input into buffer_, or ended_ set at its end; false once a signal is
    // noted or the input fails. The system's own part (posix/, windows/).
    bool fill();

    const SignalWatch& signals_;
    std::string buffer_;
    std::size_t scanned_ = 0;  // bytes of buffer_ known to hold no newline
    bool dropping_ = false;    // the line under way is too long
    bool tooLong_ = false;
    bool ended_ = false;
};

// Results written to a descriptor (pxctl's standard output) with write(2) and
// checked: a reader that stops reading holds the program only until a signal
// comes, and once one has come nothing written here waits at all. A reader
// that went away fails the write with EPIPE (SIGPIPE is the caller's to ignore).
class CheckedOutput final : public std::streambuf {
public:
    // fd: 1 for standard output.
    CheckedOutput(int fd, const SignalWatch& signals) : fd_(fd), signals_(signals) {}
    ~CheckedOutput() override { sync(); }

    // The errno of the first write that failed, or 0.
    int error() const { return error_; }

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    int fd_;
    const SignalWatch& signals_;
    std::string pending_;
    int error_ = 0;
};

}  // namespace platform
