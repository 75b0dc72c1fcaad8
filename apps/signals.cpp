#include "apps/signals.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace apps {
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
    // Restart interrupted calls: a signal must not make a port access or an
    // output write fail; the loops that wait watch the pipe instead.
    action.sa_flags = SA_RESTART;
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

std::string SignalWatch::name(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "signal " + std::to_string(signal);
    }
}

bool LineReader::next(std::string& line) {
    for (;;) {
        if (signals_.pending() != 0) return false;
        if (const auto newline = buffer_.find('\n'); newline != std::string::npos) {
            line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            return true;
        }
        if (ended_) {
            if (buffer_.empty()) return false;
            line.swap(buffer_);  // a last line without its newline
            buffer_.clear();
            return true;
        }
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
            continue;
        }
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace apps
