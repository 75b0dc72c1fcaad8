// What both systems' listeners read alike.
#include "platform/listener.h"

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

}  // namespace platform
