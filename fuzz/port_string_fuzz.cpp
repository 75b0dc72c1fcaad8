// Fuzzes the port-string parser and every backend's key checks. Ports are only
// created, never accessed, so nothing here touches a device.
#include "ports/factory.h"
#include "ports/options.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string spec(reinterpret_cast<const char*>(data), size);
    try {
        const auto opened = ports::openPort(spec);
        if (!opened.port || opened.label.empty()) std::abort();  // success must give a port
    } catch (const ports::ConfigError& e) {
        const std::string message = e.what();
        // One printable line, whatever the input held.
        if (message.empty()) std::abort();
        for (const char ch : message) {
            if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7F) std::abort();
        }
    }
    return 0;
}
