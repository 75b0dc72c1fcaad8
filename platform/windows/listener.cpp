// The SCPI server's sockets on Windows, through Winsock. Waiting is one
// WaitForMultipleObjects over an event the sockets signal (WSAEventSelect)
// and the console-event watch's event, so that Ctrl-C, Ctrl-Break and the
// console closing end a wait at once; what is ready is read off with WSAPoll,
// which never waits. Sockets are registered before readiness is looked at, so
// nothing that arrives in between is missed.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include "platform/listener.h"
#include "platform/windows/text.h"

#include <mutex>

namespace platform {
namespace {

// TCP keepalive: a host that vanished is found after about two minutes of silence.
constexpr ULONG kKeepIdleMs = 60000;
constexpr ULONG kKeepIntervalMs = 10000;

std::string socketError(int error) { return systemMessage(static_cast<unsigned long>(error)); }

// Winsock is started once for the process, the first time a socket is wanted.
bool startWinsock(std::string& why) {
    static std::once_flag once;
    static int started = -1;
    std::call_once(once, [] {
        WSADATA data{};
        started = ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (started != 0) why = socketError(started);
    return started == 0;
}

void tune(SOCKET s) {
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive keepalive{1, kKeepIdleMs, kKeepIntervalMs};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepalive, sizeof keepalive, nullptr, 0, &returned, nullptr, nullptr);
}

}  // namespace

struct Connection::Socket {
    explicit Socket(SOCKET handle) : s(handle) {}
    ~Socket() { ::closesocket(s); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET s;
};

struct Listener::Socket {
    explicit Socket(SOCKET handle) : s(handle) {}
    ~Socket() { ::closesocket(s); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET s;
};

Connection::Connection(std::unique_ptr<Socket> socket, std::string peer)
    : socket_(std::move(socket)), peer_(std::move(peer)) {}
Connection::~Connection() = default;

Connection::Io Connection::receive(std::string& into) {
    char chunk[4096];
    const int got = ::recv(socket_->s, chunk, sizeof chunk, 0);
    if (got > 0) {
        into.append(chunk, static_cast<std::size_t>(got));
        return Io::Done;
    }
    if (got == 0) return Io::End;
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return Io::Again;
    error_ = socketError(error);
    return Io::Failed;
}

Connection::Io Connection::send(std::string& data) {
    const int length = static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20));
    const int sent = ::send(socket_->s, data.data(), length, 0);
    if (sent >= 0) {
        data.erase(0, static_cast<std::size_t>(sent));
        return Io::Done;
    }
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return Io::Again;
    error_ = socketError(error);
    return Io::Failed;
}

Listener::Listener(const std::string& address) {
    std::string host, port, why;
    if (!splitListenAddress(address, host, port)) {
        throw ListenError("--listen " + address + ": not an address; give ADDR:PORT (127.0.0.1:5025, [::1]:5025)", 2);
    }
    if (!startWinsock(why)) throw ListenError("serve: cannot listen on " + address + ": " + why, 1);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0) {
        throw ListenError("serve: cannot listen on " + address + ": " + socketError(error), 1);
    }
    const SOCKET s = ::WSASocketW(found->ai_family, found->ai_socktype, found->ai_protocol, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    // Exclusive: on Windows SO_REUSEADDR would let another program take the
    // port from under the server.
    const BOOL on = TRUE;
    if (s != INVALID_SOCKET) {
        ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    }
    if (s == INVALID_SOCKET || ::bind(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 ||
        ::listen(s, 16) != 0) {
        const int error = ::WSAGetLastError();
        ::freeaddrinfo(found);
        if (s != INVALID_SOCKET) ::closesocket(s);
        throw ListenError("serve: cannot listen on " + address + ": " + socketError(error), 1);
    }
    ::freeaddrinfo(found);
    socket_ = std::make_unique<Socket>(s);
    u_long nonBlocking = 1;
    ::ioctlsocket(s, static_cast<long>(FIONBIO), &nonBlocking);
    sockaddr_storage bound{};
    int length = sizeof bound;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
    name_ = peerName(&bound);
}

Listener::~Listener() = default;

Listener::Accepted Listener::accept() {
    for (;;) {
        sockaddr_storage peer{};
        int length = sizeof peer;
        const SOCKET s = ::accept(socket_->s, reinterpret_cast<sockaddr*>(&peer), &length);
        if (s != INVALID_SOCKET) {
            u_long nonBlocking = 1;
            ::ioctlsocket(s, static_cast<long>(FIONBIO), &nonBlocking);
            tune(s);
            return {std::make_unique<Connection>(std::make_unique<Connection::Socket>(s), peerName(&peer)), {}, {}};
        }
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return {};
        if (error == WSAECONNRESET || error == WSAEINTR) continue;
        return {nullptr, {}, socketError(error)};
    }
}

bool wait(const std::vector<Listener*>& listeners, const SignalWatch& signals, const std::vector<Connection*>& connections,
          int timeoutMs) {
    std::vector<WSAPOLLFD> fds;
    fds.reserve(listeners.size() + connections.size());
    std::vector<Listener*> listening;  // the first fds, in this order
    for (Listener* l : listeners) {
        l->ready = false;
        if (!l->listening) continue;
        listening.push_back(l);
        fds.push_back({l->socket_->s, POLLRDNORM, 0});
    }
    for (const Connection* c : connections) {
        fds.push_back({c->socket_->s, static_cast<SHORT>((c->wantRead ? POLLRDNORM : 0) | (c->wantWrite ? POLLWRNORM : 0)), 0});
    }
    auto look = [&] {
        for (WSAPOLLFD& fd : fds) fd.revents = 0;
        return fds.empty() ? 0 : ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), 0);
    };
    int ready = look();
    if (ready == 0 && signals.pending() == 0) {
        // An event of this wait's own, every socket registered on it before
        // readiness is looked at again, and every one released after.
        const WSAEVENT event = ::WSACreateEvent();
        if (event == WSA_INVALID_EVENT) return false;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            const bool isListener = i < listening.size();
            const SHORT want = fds[i].events;
            // FD_CLOSE: a peer's end of data is a reason to read, too.
            const long events = isListener ? FD_ACCEPT
                                           : ((want & POLLRDNORM) != 0 ? FD_READ | FD_CLOSE : 0) |
                                                 ((want & POLLWRNORM) != 0 ? FD_WRITE | FD_CLOSE : 0);
            ::WSAEventSelect(fds[i].fd, event, events);
        }
        ready = look();
        if (ready == 0 && signals.pending() == 0) {
            HANDLE handles[2] = {event, static_cast<HANDLE>(signals.event())};
            const DWORD count = handles[1] != nullptr ? 2 : 1;
            const DWORD waited = ::WaitForMultipleObjects(count, handles, FALSE,
                                                          timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
            ready = waited == WAIT_FAILED ? -1 : look();
        }
        for (const WSAPOLLFD& fd : fds) ::WSAEventSelect(fd.fd, nullptr, 0);
        ::WSACloseEvent(event);
    }
    if (ready < 0) return false;
    for (std::size_t i = 0; i < listening.size(); ++i) listening[i]->ready = (fds[i].revents & POLLRDNORM) != 0;
    const std::size_t first = listening.size();
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const SHORT revents = fds[i + first].revents;
        connections[i]->readable = (revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
        connections[i]->writable = (revents & POLLWRNORM) != 0;
    }
    return true;
}

}  // namespace platform
