// What a Linux build has: its backends and its default port.
#include "ports/backend.h"
#include "ports/factory.h"

#include <array>

namespace ports {

std::span<const Backend* const> platformBackends() {
    static constexpr std::array<const Backend*, 7> kBackends{
        &kSimBackend, &kPpdevBackend, &kIoBackend, &kI2cBackend, &kGpioBackend, &kFtdiBackend, &kLibBackend};
    return kBackends;
}

std::string defaultPort() { return "ppdev:dev=" + std::string(kPpdevBackend.keys.front().fallback); }

std::string missingBackendReason(std::string_view) { return {}; }

}  // namespace ports
