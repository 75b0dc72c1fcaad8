// pxctl serve is not built for Windows yet: a listener says so, and nothing
// else here is reached.
#include "platform/listener.h"

namespace platform {

struct Connection::Socket {};
struct Listener::Socket {};

Connection::Connection(std::unique_ptr<Socket> socket, std::string peer)
    : socket_(std::move(socket)), peer_(std::move(peer)) {}
Connection::~Connection() = default;
Connection::Io Connection::receive(std::string&) { return Io::Failed; }
Connection::Io Connection::send(std::string&) { return Io::Failed; }

Listener::Listener(const std::string&) {
    throw ListenError("serve is not available in this Windows build; run pxctl serve on Linux", 2);
}
Listener::~Listener() = default;
Listener::Accepted Listener::accept() { return {}; }

bool wait(Listener*, const SignalWatch&, const std::vector<Connection*>&, int) { return false; }

}  // namespace platform
