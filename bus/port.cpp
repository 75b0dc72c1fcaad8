// The port errors every backend shares.
#include "bus/port.h"

#include <cstdio>
#include <string>

namespace bus {

PortError badRegister(std::string_view backend, const char* operation, std::uint16_t port) {
    char text[96];
    std::snprintf(text, sizeof text, ": cannot %s 0x%x (only 0x378 is written and 0x379 read)", operation, port);
    return PortError(std::string(backend) + text);
}

}  // namespace bus
