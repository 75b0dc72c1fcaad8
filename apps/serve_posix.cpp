// The SCPI server's sockets. One poll loop: the listening socket, the client
// and the signal watch. A line is read whole before it runs, and a signal is
// acted on between lines, so a frame under way always completes. Memory stays
// bounded: a line longer than the instrument takes is dropped as it arrives,
// and answers a client does not read are thrown away when its next line comes
// (-410); a client that reads nothing for kStall while answers wait is closed.
#include "apps/serve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace apps {
namespace {

constexpr auto kStall = std::chrono::seconds(5);

void say(const std::string& text) { std::fprintf(stderr, "pxctl: serve: %s\n", text.c_str()); }

std::string peerName(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
    std::string name = "[";
    name.append(host).append("]:").append(std::to_string(port));
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

class Client {
public:
    int fd = -1;
    std::string name;
    std::string input;
    std::string output;
    bool dropping = false;  // the line under way is too long
    std::chrono::steady_clock::time_point lastProgress;

    void close(const std::string& why) {
        if (fd < 0) return;
        ::close(fd);
        fd = -1;
        say("client " + name + " " + why);
        input.clear();
        output.clear();
        dropping = false;
    }

    void flush() {
        while (fd >= 0 && !output.empty()) {
            const ssize_t sent = ::send(fd, output.data(), output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                output.erase(0, static_cast<std::size_t>(sent));
                lastProgress = std::chrono::steady_clock::now();
            } else if (sent < 0 && errno == EINTR) {
                continue;
            } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                close(std::string("went away (") + std::strerror(errno) + ")");
            }
        }
    }
};

}  // namespace

int serve(const std::string& listen, script::ScpiInstrument& instrument, const SignalWatch& signals,
          const std::function<void()>& betweenLines) {
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
    if (server < 0 || ::bind(server, found->ai_addr, found->ai_addrlen) != 0 || ::listen(server, 4) != 0) {
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
    say("listening on " + peerName(bound) + "; one client at a time, no authentication");
    std::fflush(stderr);

    Client client;
    while (signals.pending() == 0) {
        pollfd fds[3] = {{server, POLLIN, 0}, {signals.fd(), POLLIN, 0}, {client.fd, POLLIN, 0}};
        if (!client.output.empty()) fds[2].events |= POLLOUT;
        const int timeout = client.output.empty() ? -1 : 1000;
        if (::poll(fds, 3, timeout) < 0) {
            if (errno == EINTR) continue;
            say(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (signals.pending() != 0) break;
        if ((fds[0].revents & POLLIN) != 0) {
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            const int fd = ::accept4(server, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0 && client.fd >= 0) {
                // Told in the form a SCPI client reads an answer in, then closed.
                const std::string busy = "-310,\"System error;busy: serving " + client.name +
                                         "; one client at a time\"\n";
                (void)::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                ::shutdown(fd, SHUT_RDWR);
                ::close(fd);
                say("client " + peerName(peer) + " refused: busy with " + client.name);
            } else if (fd >= 0) {
                client.fd = fd;
                client.name = peerName(peer);
                client.lastProgress = std::chrono::steady_clock::now();
                say("client " + client.name + " connected");
            }
        }
        if (client.fd >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char chunk[4096];
            const ssize_t got = ::recv(client.fd, chunk, sizeof chunk, 0);
            if (got == 0) {
                client.close(client.input.empty() ? "disconnected" : "disconnected mid-line; the part line was dropped");
            } else if (got < 0 && errno != EINTR && errno != EAGAIN) {
                client.close(std::string("went away (") + std::strerror(errno) + ")");
            } else if (got > 0) {
                for (ssize_t i = 0; i < got && client.fd >= 0 && signals.pending() == 0; ++i) {
                    const char c = chunk[i];
                    if (c != '\n') {
                        if (client.dropping) continue;
                        if (client.input.size() >= script::ScpiInstrument::kMaxLine) {
                            client.dropping = true;
                            client.input.clear();
                            instrument.overrun();
                            continue;
                        }
                        client.input += c;
                        continue;
                    }
                    if (client.dropping) {
                        client.dropping = false;
                        continue;
                    }
                    if (!client.input.empty() && client.input.back() == '\r') client.input.pop_back();
                    if (!client.output.empty()) {
                        client.output.clear();
                        instrument.interrupted();
                    }
                    if (auto answer = instrument.line(client.input)) client.output += *answer + "\n";
                    client.input.clear();
                    client.flush();
                    if (betweenLines) betweenLines();
                }
            }
        }
        client.flush();
        if (client.fd >= 0 && !client.output.empty() &&
            std::chrono::steady_clock::now() - client.lastProgress > kStall) {
            client.close("closed: it has read no answer for 5 s");
        }
    }
    if (client.fd >= 0) client.flush();
    client.close("closed: the server stops");
    ::close(server);
    if (signals.pending() != 0) {
        say("stopped by " + SignalWatch::name(signals.pending()) + " after " +
            std::to_string(instrument.commandsRun()) + " commands");
    }
    return 0;
}

}  // namespace apps
