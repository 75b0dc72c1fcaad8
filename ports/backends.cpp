// The table of backends, in the order --help lists them, and the port the
// programs use when none is given. Each row is a backend's own entry where this
// build has it, or its name and why not: Linux's own devices are rows of the
// Linux build, and gpio and ftdi of a build that has their libraries.
#include "ports/backend.h"
#include "ports/factory.h"

#include <array>

namespace ports {
namespace {

#if PX_LINUX_BACKENDS
constexpr const Backend* kPpdev = &kPpdevBackend;
constexpr const Backend* kIo = &kIoBackend;
constexpr const Backend* kI2c = &kI2cBackend;
#else
constexpr Backend kPpdevAbsent{.name = "ppdev", .missing = "ppdev reaches a Linux kernel driver and exists only on Linux"};
constexpr Backend kIoAbsent{.name = "io", .missing = "io reaches a Linux kernel driver and exists only on Linux"};
constexpr Backend kI2cAbsent{.name = "i2c", .missing = "i2c reaches a Linux kernel driver and exists only on Linux"};
constexpr const Backend* kPpdev = &kPpdevAbsent;
constexpr const Backend* kIo = &kIoAbsent;
constexpr const Backend* kI2c = &kI2cAbsent;
#endif

#if PX_WITH_GPIOD
constexpr const Backend* kGpio = &kGpioBackend;
#else
constexpr Backend kGpioAbsent{.name = "gpio", .missing = PX_GPIOD_MISSING};
constexpr const Backend* kGpio = &kGpioAbsent;
#endif

#if PX_WITH_FTDI
constexpr const Backend* kFtdi = &kFtdiBackend;
#else
constexpr Backend kFtdiAbsent{.name = "ftdi", .missing = PX_FTDI_MISSING};
constexpr const Backend* kFtdi = &kFtdiAbsent;
#endif

}  // namespace

std::span<const Backend* const> backendTable() {
    static constexpr std::array kBackends{&kSimBackend, kPpdev, kIo, kI2c, kGpio, kFtdi, &kCp2112Backend, &kMcp2221Backend,
                                          &kLibBackend};
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

}  // namespace ports
