// What a Windows build has: the simulated board and port libraries (ppdev, io,
// i2c and gpio reach Linux's own devices and are not built here), and
// ntport.dll as the default port.
#include "ports/backend.h"
#include "ports/detect.h"
#include "ports/factory.h"

#include <array>

namespace ports {

std::span<const Backend* const> platformBackends() {
    static constexpr std::array<const Backend*, 2> kBackends{&kSimBackend, &kLibBackend};
    return kBackends;
}

// Windows names no parallel port, adapter or pin that pxctl could open but
// through a port library the user installs.
std::vector<DetectedPort> detectPorts() {
    return {{"sim", "sim", "the simulated board (a fresh one each run; sim:state=FILE keeps it)"},
            {"lib", "lib:path=ntport.dll", "the port library ntport.dll, where it is installed"}};
}

// As the programs had it: the port-access library ntport.dll.
std::string defaultPort() { return "lib:path=ntport.dll"; }

std::string missingBackendReason(std::string_view name) {
    for (const std::string_view linux : {"ppdev", "io", "i2c", "gpio"}) {
        if (name == linux) return std::string(name) + " reaches a Linux kernel driver and exists only on Linux";
    }
    return {};
}

}  // namespace ports
