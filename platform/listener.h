// A TCP socket that listens, and the connections it accepts, for pxctl serve:
// nothing here blocks. Answers go at once (no Nagle), each read is
// acknowledged at once (a client that writes a command and then a query sends
// the query only when its command is acknowledged), and keepalive finds a
// peer that vanished.
#pragma once

#include "platform/signals.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Why a socket could not listen, in a few words; status is the exit status
// pxctl gives (2: an address it cannot read, 1: one it cannot use).
class ListenError : public std::runtime_error {
public:
    ListenError(const std::string& message, int exitStatus) : std::runtime_error(message), status(exitStatus) {}
    int status;
};

class Listener;
class Connection;
bool wait(const std::vector<Listener*>& listeners, const SignalWatch& signals, const std::vector<Connection*>& connections,
          int timeoutMs);

class Connection {
public:
    enum class Io { Done, Again, End, Failed };
    struct Socket;  // the system's own
    Connection(std::unique_ptr<Socket> socket, std::string peer);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& peer() const { return peer_; }
    // Appends what has arrived to into: Done, Again (nothing yet), End (the
    // peer sends no more) or Failed (error() says why).
    Io receive(std::string& into);
    // Sends what it can from the front of data, and removes what went.
    Io send(std::string& data);
    const std::string& error() const { return error_; }

    // For wait(): what to wait for, and what came.
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false;
    bool writable = false;

private:
    friend bool wait(const std::vector<Listener*>&, const SignalWatch&, const std::vector<Connection*>&, int);
    std::unique_ptr<Socket> socket_;
    std::string peer_;
    std::string error_;
};

class Listener {
public:
    // "127.0.0.1:5025", "[::1]:5025", "localhost:0". Throws ListenError.
    explicit Listener(const std::string& address);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Where it listens, as a peer is named: "127.0.0.1:41234".
    const std::string& name() const { return name_; }

    struct Accepted {
        std::unique_ptr<Connection> connection;  // none where nothing waits, or it was closed at once
        std::string closedAtOnce;  // a connection the system left no room for, closed at once: why
        std::string failed;        // accepting failed otherwise: why (rest a while before the next try)
    };
    Accepted accept();

    // Whether the listening socket is waited on (false: it rests).
    bool listening = true;
    bool ready = false;  // set by wait()

private:
    friend bool wait(const std::vector<Listener*>&, const SignalWatch&, const std::vector<Connection*>&, int);
    struct Socket;
    std::unique_ptr<Socket> socket_;
    std::string name_;
};

// "127.0.0.1:5025", "[::1]:5025", "localhost:5025" as host and port; false
// where the text is none of these. Each system's Listener reads --listen so.
bool splitListenAddress(const std::string& text, std::string& host, std::string& port);

// A socket address (the system's sockaddr_storage) as a peer is named:
// "127.0.0.1:41234", "[::1]:5025".
std::string peerName(const void* sockaddrStorage);

// Waits at most timeoutMs (negative: for ever) until a listener (where it is
// listening) has a connection, a signal is noted, or a connection can do what
// it wants; sets ready, readable and writable. False where waiting failed.
bool wait(const std::vector<Listener*>& listeners, const SignalWatch& signals, const std::vector<Connection*>& connections,
          int timeoutMs);

}  // namespace platform
