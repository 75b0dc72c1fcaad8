// The backends of a Windows build: the simulated board and port libraries.
// ppdev, io, i2c and gpio reach Linux's own devices and are not built here.
#include "ports/backend.h"
#include "ports/factory.h"

#include <array>

namespace ports {

std::span<const Backend* const> platformBackends() {
    static constexpr std::array<const Backend*, 2> kBackends{&kSimBackend, &kLibBackend};
    return kBackends;
}

// As the programs had it: the port-access library ntport.dll.
std::string defaultPort() { return "lib:path=ntport.dll"; }

}  // namespace ports
