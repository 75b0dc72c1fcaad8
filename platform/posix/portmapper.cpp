// Through libtirpc's rpcb_set, which reaches rpcbind over its local socket.
// libtirpc would fall back to UDP on loopback where rpcbind does not run and
// wait out its retries there, so whether it runs is asked first, at once.
#include "platform/portmapper.h"

#ifdef PX_HAVE_TIRPC
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace platform {

#ifdef PX_HAVE_TIRPC
namespace {

// rpcbind's local socket (Debian's, and the older path), else its TCP port on
// loopback: a connection taken at once, or refused at once.
bool portmapperRuns() {
    for (const char* path : {"/run/rpcbind.sock", "/var/run/rpcbind.sock"}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        sockaddr_un to{};
        to.sun_family = AF_UNIX;
        std::strncpy(to.sun_path, path, sizeof to.sun_path - 1);
        const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
        ::close(fd);
        if (connected) return true;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(111);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

PortmapperEntry::PortmapperEntry(std::uint32_t program, std::uint32_t version, std::uint16_t port)
    : program_(program), version_(version) {
    if (!portmapperRuns()) {
        why_ = "no portmapper (rpcbind) runs here";
        return;
    }
    netconfig* tcp = ::getnetconfigent("tcp");
    if (tcp == nullptr) {
        why_ = "the system knows no tcp transport (/etc/netconfig)";
        return;
    }
    // Any address: rpcbind answers with the port, and the client keeps the host it asked.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    netbuf buffer{sizeof address, sizeof address, &address};
    ::rpcb_unset(program, version, tcp);  // left by a server that did not stop cleanly
    registered_ = ::rpcb_set(program, version, tcp, &buffer) != 0;
    if (!registered_) why_ = "the portmapper refused the registration";
    ::freenetconfigent(tcp);
}

PortmapperEntry::~PortmapperEntry() {
    if (!registered_) return;
    if (netconfig* tcp = ::getnetconfigent("tcp")) {
        ::rpcb_unset(program_, version_, tcp);
        ::freenetconfigent(tcp);
    }
}

#else

PortmapperEntry::PortmapperEntry(std::uint32_t program, std::uint32_t version, std::uint16_t)
    : program_(program), version_(version), why_(PX_TIRPC_MISSING) {}

PortmapperEntry::~PortmapperEntry() = default;

#endif

}  // namespace platform
