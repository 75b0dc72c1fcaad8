// What both systems' listeners read and write alike.
#include "platform/listener.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace platform {

bool splitListenAddress(const std::string& text, std::string& host, std::string& port) {
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

std::string peerName(const void* sockaddrStorage) {
    const auto& address = *static_cast<const sockaddr_storage*>(sockaddrStorage);
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

}  // namespace platform
