// Signals, terminal input and checked output on POSIX systems.
#include "platform/signals.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

// A signal handler can reach nothing but statics; these are the only ones, and
// they live from the watch's construction to its end.
volatile std::sig_atomic_t gPending = 0;
int gPipe[2] = {-1, -1};
struct sigaction gPrevious[kSignals.size()];

extern "C" void noteSignal(int signal) {
    if (gPending == 0) gPending = signal;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(gPipe[1], &byte, 1);  // a full pipe is already awake
    errno = saved;
}

}  // namespace

SignalWatch::SignalWatch() {
    if (gPipe[0] >= 0) throw std::logic_error("one SignalWatch at a time");
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    gPending = 0;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a call that waits (a write to a full pipe, an open, a
    // read) returns EINTR, so that the program stops at the next point where no
    // frame is under way instead of waiting on for ever. Writes of our own
    // (CheckedOutput) and the loops that wait look at pending() on EINTR.
    action.sa_flags = 0;
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

SignalWatch::~SignalWatch() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

int SignalWatch::pending() const { return gPending; }

int SignalWatch::fd() const { return gPipe[0]; }

void* SignalWatch::event() const { return nullptr; }

std::string SignalWatch::name(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "signal " + std::to_string(signal);
    }
}




bool LineReader::fill() {
    for (;;) {
        pollfd fds[2] = {{0, POLLIN, 0}, {signals_.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (signals_.pending() != 0) return false;
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char chunk[4096];
        const ssize_t got = ::read(0, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ended_ = true;
        } else {
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
        return true;
    }
}

int CheckedOutput::sync() {
    std::size_t done = 0;
    while (error_ == 0 && done < pending_.size()) {
        if (signals_.pending() != 0) {
            // Past a signal, write only what fits now.
            pollfd out{fd_, POLLOUT, 0};
            if (::poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) {
                error_ = EINTR;
                break;
            }
        }
        const ssize_t wrote = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (wrote > 0) {
            done += static_cast<std::size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;  // the signal, if it was one of ours, is looked at above
        } else {
            error_ = wrote < 0 ? errno : EIO;
        }
    }
    pending_.erase(0, done);
    if (error_ == 0) return 0;
    errno = error_;
    return -1;
}

bool standardInputIsTerminal() { return ::isatty(0) == 1; }

void prepareStandardStreams() { std::signal(SIGPIPE, SIG_IGN); }

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace platform
