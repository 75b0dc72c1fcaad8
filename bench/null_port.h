// A port that does nothing but count, so that only our own work is measured.
#pragma once

#include "bus/port.h"

#include <cstdint>

namespace bench_support {

class NullPort final : public bus::Port {
public:
    void OutportW(std::uint16_t port, std::uint16_t value) override {
        ++accesses;
        sink += static_cast<std::uint32_t>(port ^ value);
    }
    std::uint16_t InportW(std::uint16_t port) override {
        ++accesses;
        return static_cast<std::uint16_t>(port & 0x08);
    }
    std::uint64_t accesses = 0;
    std::uint32_t sink = 0;
};

}  // namespace bench_support
