// Fuzzes the port-string parser and every backend's key checks. Ports are only
// created, never accessed, so nothing here touches a device.
#include "bus/text.h"
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
        // One line of text, whatever the input held: valid UTF-8 with no
        // control character in it.
        if (message.empty()) std::abort();
        for (std::size_t i = 0; i < message.size();) {
            const std::size_t length = bus::plainCharacterAt(message, i);
            if (length == 0) std::abort();
            i += length;
        }
    }
    return 0;
}
