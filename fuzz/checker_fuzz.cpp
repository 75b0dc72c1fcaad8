// Fuzzes the bus checker's decoder with arbitrary access sequences: each input
// byte is a write of that line code, or, with bit 7 set, a status read.
#include "buscheck/checker.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    buscheck::Checker checker;
    for (std::size_t i = 0; i < size; ++i) {
        if ((data[i] & 0x80) != 0) {
            checker.read(0x379, static_cast<std::uint16_t>(data[i] & 0x08));
        } else {
            checker.write(0x378, data[i]);
        }
    }
    checker.finish();
    // Every event and finding points at an access that happened.
    for (const auto& event : checker.events()) {
        if (size == 0 || event.at >= size) std::abort();
        (void)buscheck::describe(event);
    }
    for (const auto& finding : checker.findings()) {
        if (size > 0 && finding.at >= size) std::abort();
    }
    return 0;
}
