// The backends this build has, in the order --help lists them, and the port the
// programs use when none is given. Linux's own devices (ppdev, io, i2c, gpio,
// ftdi through libftdi) are rows of the Linux build only.
#include "ports/backend.h"
#include "ports/factory.h"

#include <array>

namespace ports {

std::span<const Backend* const> platformBackends() {
    static constexpr std::array kBackends{
        &kSimBackend,
#if PX_LINUX_BACKENDS
        &kPpdevBackend, &kIoBackend, &kI2cBackend, &kGpioBackend, &kFtdiBackend,
#endif
        &kLibBackend,
    };
    return kBackends;
}

// Linux: the first parallel port through ppdev. Windows, as the programs had
// it: the port-access library ntport.dll.
std::string defaultPort() {
#if PX_LINUX_BACKENDS
    return "ppdev:dev=" + std::string(kPpdevBackend.keys.front().fallback);
#else
    return "lib:path=ntport.dll";
#endif
}

std::string missingBackendReason(std::string_view name) {
#if !PX_LINUX_BACKENDS
    for (const std::string_view kernel : {"ppdev", "io", "i2c", "gpio"}) {
        if (name == kernel) return std::string(name) + " reaches a Linux kernel driver and exists only on Linux";
    }
#endif
    (void)name;
    return {};
}

}  // namespace ports
