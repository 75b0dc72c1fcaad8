// The backends of a Linux build.
#include "ports/backend.h"
#include "ports/factory.h"

#include <array>

namespace ports {

std::span<const Backend* const> platformBackends() {
    static constexpr std::array<const Backend*, 6> kBackends{&kSimBackend, &kPpdevBackend, &kIoBackend,
                                                             &kI2cBackend, &kGpioBackend, &kLibBackend};
    return kBackends;
}

std::string defaultPort() { return "ppdev:dev=" + std::string(kPpdevBackend.keys.front().fallback); }

}  // namespace ports
