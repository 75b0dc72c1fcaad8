// What a Windows build has: the simulated board and port libraries (ppdev, io,
// i2c and gpio reach Linux's own devices and are not built here), ntport.dll as
// the default port, and files opened by wide paths.
#include "ports/backend.h"
#include "ports/detect.h"
#include "ports/factory.h"
#include "platform/windows/text.h"

#include <cstdio>

#include <array>

namespace ports {

using platform::narrow;
using platform::systemMessage;
using platform::widen;

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

std::FILE* openFile(const std::string& path, const char* mode) {
    return ::_wfopen(widen(path).c_str(), widen(mode).c_str());
}

std::string missingBackendReason(std::string_view name) {
    for (const std::string_view linux : {"ppdev", "io", "i2c", "gpio"}) {
        if (name == linux) return std::string(name) + " reaches a Linux kernel driver and exists only on Linux";
    }
    return {};
}

}  // namespace ports
