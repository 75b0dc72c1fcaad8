// The SCPI server's sockets. One poll loop: the listening socket, the signal
// watch and a few clients, each with its own input and answers. Their lines
// run one at a time, in the loop, so frames never interleave; a signal is
// acted on between commands, so a frame under way always completes.
//
// Memory stays bounded: a line longer than the instrument takes is dropped as
// it arrives, and a client whose answers pile up unread has its input left in
// the socket until it reads them (answers are never cut or thrown away: each
// reaches the client whole and in order, or the client is closed). A client
// that reads nothing for kStall while answers wait, or sends nothing for the
// idle timeout, is closed.
#include "apps/serve.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace apps {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStall = std::chrono::seconds(5);
// Answers a client has not read yet beyond which its next lines wait.
constexpr std::size_t kOutputLimit = 64 * 1024;
constexpr std::size_t kChunk = 4096;
// After an accept fails for want of memory, the listening socket rests this long.
constexpr auto kAcceptPause = std::chrono::seconds(1);
// TCP keepalive: a host that vanished is found after about two minutes of silence.
constexpr int kKeepIdle = 60;
constexpr int kKeepInterval = 10;
constexpr int kKeepCount = 6;

void say(const std::string& text) {
    std::fprintf(stderr, "pxctl: serve: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string peerName(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(in->sin_port));
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    std::string name = "[";
    name.append(host).append("]:").append(std::to_string(ntohs(in6->sin6_port)));
    return name;
}

// "127.0.0.1:5025", "[::1]:5025", "localhost:5025"; false where it is none of these.
bool splitAddress(const std::string& text, std::string& host, std::string& port) {
    std::size_t colon = 0;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        if (host.find(':') != std::string::npos) return false;  // IPv6 needs its brackets
    }
    port = text.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    return std::stoi(port) <= 65535;
}

// Answers go at once (no Nagle: a query's answer must not wait for the
// client's delayed acknowledge), and a peer that vanished is noticed.
void tune(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdle, sizeof kKeepIdle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepInterval, sizeof kKeepInterval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
}

class Client {
public:
    Client(int fd, std::string name) : fd_(fd), name_(std::move(name)), lastInput_(Clock::now()), lastProgress_(lastInput_) {}
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    bool waiting() const { return !output_.empty(); }
    // Whether its next lines may run: its answers are being read.
    bool roomForAnswers() const { return output_.size() < kOutputLimit; }
    bool wantsInput() const { return open() && !ended_ && inbox_.empty() && roomForAnswers(); }
    bool hasLines() const { return open() && !inbox_.empty() && roomForAnswers(); }

    void close(const std::string& why) {
        if (fd_ < 0) return;
        ::close(fd_);
        fd_ = -1;
        say("client " + name_ + " " + why);
    }

    void receive() {
        char chunk[kChunk];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got > 0) {
            inbox_.append(chunk, static_cast<std::size_t>(got));
            lastInput_ = Clock::now();
            // Acknowledged at once, not 40 ms later with an answer: a client
            // that writes a command and then a query (Nagle's algorithm on its
            // side) sends the query only when its command is acknowledged.
            // Linux drops quick-ack after a while, so it is asked for each time.
            const int on = 1;
            ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        } else if (got == 0) {
            ended_ = true;  // its lines so far are still answered
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            close(std::string("went away (") + std::strerror(errno) + ")");
        }
    }

    // Runs the complete lines received, while the client reads its answers and
    // no signal has come.
    void runLines(script::ScpiInstrument& instrument, const platform::SignalWatch& signals,
                  const std::function<void()>& betweenLines) {
        std::size_t used = 0;
        while (used < inbox_.size() && roomForAnswers() && signals.pending() == 0) {
            const char c = inbox_[used++];
            if (c != '\n') {
                if (dropping_) {
                    counter_.feed(c);
                } else if (line_.size() >= script::ScpiInstrument::kMaxLine) {
                    dropping_ = true;
                    for (char kept : line_) counter_.feed(kept);
                    counter_.feed(c);
                    line_.clear();
                } else {
                    line_ += c;
                }
                continue;
            }
            std::optional<std::string> answer;
            if (dropping_) {
                answer = instrument.overrun(counter_.count());
                dropping_ = false;
                counter_ = {};
            } else {
                if (!line_.empty() && line_.back() == '\r') line_.pop_back();
                answer = instrument.line(line_);
                line_.clear();
            }
            if (answer) output_ += *answer + "\n";
            if (betweenLines) betweenLines();
        }
        inbox_.erase(0, used);
        flush();
    }

    void flush() {
        while (open() && !output_.empty()) {
            const ssize_t sent = ::send(fd_, output_.data(), output_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                output_.erase(0, static_cast<std::size_t>(sent));
                lastProgress_ = Clock::now();
            } else if (sent < 0 && errno == EINTR) {
                continue;
            } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                close(std::string("went away (") + std::strerror(errno) + ")");
            }
        }
    }

    // Closes the client where it is done, stalled or silent for too long.
    void check(Clock::time_point now, std::chrono::seconds idle) {
        if (!open()) return;
        if (ended_ && inbox_.empty() && output_.empty()) {
            close(line_.empty() && !dropping_ ? "disconnected" : "disconnected mid-line; the part line was dropped");
        } else if (waiting() && now - lastProgress_ > kStall) {
            close("closed: it has read no answer for " + std::to_string(kStall.count()) + " s");
        } else if (idle.count() > 0 && !waiting() && now - lastInput_ > idle) {
            close("closed: it sent nothing for " + std::to_string(idle.count()) + " s");
        }
    }

    // When check() next has something to do; max() where only input can change it.
    Clock::time_point deadline(std::chrono::seconds idle) const {
        if (waiting()) return lastProgress_ + kStall + std::chrono::milliseconds(1);
        if (idle.count() > 0) return lastInput_ + idle + std::chrono::milliseconds(1);
        return Clock::time_point::max();
    }

private:
    int fd_;
    std::string name_;
    std::string inbox_;   // received, not yet run
    std::string line_;    // the line under way
    std::string output_;  // answers not yet sent
    bool dropping_ = false;  // the line under way is too long: counted, not kept
    script::ScpiInstrument::QueryCounter counter_;
    bool ended_ = false;  // the client sends no more
    Clock::time_point lastInput_;
    Clock::time_point lastProgress_;
};

}  // namespace

int serve(const ServeOptions& options, script::ScpiInstrument& instrument, const platform::SignalWatch& signals,
          const std::function<void()>& betweenLines) {
    const std::string& listen = options.listen;
    std::string host, port;
    if (!splitAddress(listen, host, port)) {
        std::fprintf(stderr, "pxctl: --listen %s: not an address; give ADDR:PORT (127.0.0.1:5025, [::1]:5025)\n",
                     listen.c_str());
        return 2;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
        std::fprintf(stderr, "pxctl: serve: cannot listen on %s: %s\n", listen.c_str(), ::gai_strerror(error));
        return 1;
    }
    int server = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, found->ai_protocol);
    const int on = 1;
    if (server >= 0) ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (server < 0 || ::bind(server, found->ai_addr, found->ai_addrlen) != 0 || ::listen(server, 16) != 0) {
        const int error = errno;
        ::freeaddrinfo(found);
        if (server >= 0) ::close(server);
        std::fprintf(stderr, "pxctl: serve: cannot listen on %s: %s\n", listen.c_str(), std::strerror(error));
        return 1;
    }
    ::freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    const auto limit = static_cast<std::size_t>(std::max(options.clients, 1));
    say("listening on " + peerName(bound) + "; " + std::to_string(limit) + (limit == 1 ? " client" : " clients") +
        " at a time, no authentication");
    // Kept for the moment descriptors run out: closed, it lets one more
    // connection be accepted and closed, so that the client is told at once
    // and the listening socket does not stay ready for ever.
    int spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    std::list<Client> clients;
    std::vector<pollfd> fds;
    std::vector<Client*> polled;
    Clock::time_point resting = Clock::time_point::min();
    while (signals.pending() == 0) {
        const auto now = Clock::now();
        fds.clear();
        polled.clear();
        const bool accepting = now >= resting;
        fds.push_back({accepting ? server : -1, POLLIN, 0});
        fds.push_back({signals.fd(), POLLIN, 0});
        auto deadline = accepting ? Clock::time_point::max() : resting;
        bool ready = false;  // a client has lines it can run now
        for (Client& client : clients) {
            short events = 0;
            if (client.wantsInput()) events |= POLLIN;
            if (client.waiting()) events |= POLLOUT;
            fds.push_back({client.fd(), events, 0});
            polled.push_back(&client);
            deadline = std::min(deadline, client.deadline(options.idleTimeout));
            ready = ready || client.hasLines();
        }
        int timeout = -1;
        if (ready) {
            timeout = 0;
        } else if (deadline != Clock::time_point::max()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            timeout = static_cast<int>(std::clamp<long long>(wait, 0, 60'000));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            say(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (signals.pending() != 0) break;
        // Clients first: one that hung up frees its place before the next is taken.
        for (std::size_t i = 0; i < polled.size(); ++i) {
            Client& client = *polled[i];
            if ((fds[i + 2].revents & POLLOUT) != 0) client.flush();
            if (client.wantsInput() && (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) client.receive();
        }
        for (Client& client : clients) {
            if (client.hasLines()) client.runLines(instrument, signals, betweenLines);
            if (signals.pending() != 0) break;
        }
        const auto later = Clock::now();
        for (Client& client : clients) client.check(later, options.idleTimeout);
        clients.remove_if([](const Client& client) { return !client.open(); });
        if (signals.pending() != 0) break;
        if ((fds[0].revents & POLLIN) == 0) continue;
        while (signals.pending() == 0) {
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            const int fd = ::accept4(server, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                const int error = errno;
                if (error == EAGAIN || error == EWOULDBLOCK) break;
                if (error == EINTR || error == ECONNABORTED) continue;
                if ((error == EMFILE || error == ENFILE) && spare >= 0) {
                    // Linux says so before it looks for a connection: there may be none.
                    ::close(spare);
                    const int refused = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
                    if (refused >= 0) ::close(refused);
                    spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                    if (refused < 0) break;
                    say(std::string("a client was closed at once: ") + std::strerror(error));
                    continue;
                }
                say(std::string("cannot accept a client: ") + std::strerror(error) + "; trying again in 1 s");
                resting = Clock::now() + kAcceptPause;
                break;
            }
            if (clients.size() >= limit) {
                ::close(fd);
                say("client " + peerName(peer) + " closed at once: " + std::to_string(limit) +
                    (limit == 1 ? " client is" : " clients are") + " served already (--clients)");
                continue;
            }
            tune(fd);
            clients.emplace_back(fd, peerName(peer));
            say("client " + clients.back().name() + " connected");
        }
    }
    for (Client& client : clients) {
        client.flush();
        client.close("closed: the server stops");
    }
    clients.clear();
    if (spare >= 0) ::close(spare);
    ::close(server);
    if (signals.pending() != 0) {
        say("stopped by " + platform::SignalWatch::name(signals.pending()) + " after " +
            std::to_string(instrument.commandsRun()) + " commands");
    }
    return 0;
}

}  // namespace apps
