// The SCPI server's sockets on POSIX systems: poll(2) over the listening
// socket, the signal watch and the clients.
#include "platform/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// TCP keepalive: a host that vanished is found after about two minutes of silence.
constexpr int kKeepIdle = 60;
constexpr int kKeepInterval = 10;
constexpr int kKeepCount = 6;

void tune(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdle, sizeof kKeepIdle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepInterval, sizeof kKeepInterval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
}

}  // namespace

struct Connection::Socket {
    explicit Socket(int descriptor) : fd(descriptor) {}
    ~Socket() { ::close(fd); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd;
};

struct Listener::Socket {
    explicit Socket(int descriptor) : fd(descriptor) {}
    ~Socket() {
        ::close(fd);
        if (spare >= 0) ::close(spare);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd;
    // Kept for the moment descriptors run out: closed, it lets one more
    // connection be accepted and closed, so that the client is told at once
    // and the listening socket does not stay ready for ever.
    int spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
};

Connection::Connection(std::unique_ptr<Socket> socket, std::string peer)
    : socket_(std::move(socket)), peer_(std::move(peer)) {}
Connection::~Connection() = default;

Connection::Io Connection::receive(std::string& into) {
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::recv(socket_->fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            into.append(chunk, static_cast<std::size_t>(got));
            // Linux drops quick-ack after a while, so it is asked for each time.
            const int on = 1;
            ::setsockopt(socket_->fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            return Io::Done;
        }
        if (got == 0) return Io::End;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::Again;
        error_ = std::strerror(errno);
        return Io::Failed;
    }
}

Connection::Io Connection::send(std::string& data) {
    for (;;) {
        const ssize_t sent = ::send(socket_->fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            data.erase(0, static_cast<std::size_t>(sent));
            return Io::Done;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::Again;
        error_ = std::strerror(errno);
        return Io::Failed;
    }
}

Listener::Listener(const std::string& address) {
    std::string host, port;
    if (!splitListenAddress(address, host, port)) {
        throw ListenError("--listen " + address + ": not an address; give ADDR:PORT (127.0.0.1:5025, [::1]:5025)", 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
        throw ListenError("serve: cannot listen on " + address + ": " + ::gai_strerror(error), 1);
    }
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, found->ai_protocol);
    const int on = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 16) != 0) {
        const int error = errno;
        ::freeaddrinfo(found);
        if (fd >= 0) ::close(fd);
        throw ListenError("serve: cannot listen on " + address + ": " + std::strerror(error), 1);
    }
    ::freeaddrinfo(found);
    socket_ = std::make_unique<Socket>(fd);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    name_ = peerName(&bound);
}

Listener::~Listener() = default;

Listener::Accepted Listener::accept() {
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(socket_->fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            tune(fd);
            return {std::make_unique<Connection>(std::make_unique<Connection::Socket>(fd), peerName(&peer)), {}, {}};
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) return {};
        if (error == EINTR || error == ECONNABORTED) continue;
        if ((error == EMFILE || error == ENFILE) && socket_->spare >= 0) {
            // Linux says so before it looks for a connection: there may be none.
            ::close(socket_->spare);
            const int refused = ::accept4(socket_->fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (refused >= 0) ::close(refused);
            socket_->spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (refused < 0) return {};
            return {nullptr, std::strerror(error), {}};
        }
        return {nullptr, {}, std::strerror(error)};
    }
}

bool wait(const std::vector<Listener*>& listeners, const SignalWatch& signals, const std::vector<Connection*>& connections,
          int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(listeners.size() + connections.size() + 1);
    for (const Listener* l : listeners) fds.push_back({l->listening ? l->socket_->fd : -1, POLLIN, 0});
    fds.push_back({signals.fd(), POLLIN, 0});
    for (const Connection* c : connections) {
        fds.push_back({c->socket_->fd, static_cast<short>((c->wantRead ? POLLIN : 0) | (c->wantWrite ? POLLOUT : 0)), 0});
    }
    while (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
        if (errno != EINTR) return false;
        if (signals.pending() != 0) break;
    }
    for (std::size_t i = 0; i < listeners.size(); ++i) listeners[i]->ready = (fds[i].revents & POLLIN) != 0;
    const std::size_t first = listeners.size() + 1;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const short revents = fds[i + first].revents;
        connections[i]->readable = (revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        connections[i]->writable = (revents & POLLOUT) != 0;
    }
    return true;
}

}  // namespace platform
