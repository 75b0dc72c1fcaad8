// An I2C master that bit-bangs whole transactions on a line backend: the
// emulated adapters carry what the kernel asks of them to the simulated device
// this way, so that the device behind them is the board's own, line for line.
#pragma once

#include "bus/line_port.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vm {

class BusMaster {
public:
    explicit BusMaster(bus::LineBackend& lines) : lines_(lines) {}

    // Start, address, bytes, stop. False where the address or a byte was not
    // acknowledged; the transaction ends there with a stop.
    bool write(std::uint8_t address, const std::uint8_t* data, std::size_t length) {
        start();
        bool acked = sendByte(static_cast<std::uint8_t>(address << 1));
        for (std::size_t i = 0; acked && i < length; ++i) acked = sendByte(data[i]);
        stop();
        return acked;
    }

    // Start, address with the read bit, bytes clocked in (acknowledged by the
    // master but for the last), stop. nullopt where the address was not acknowledged.
    std::optional<std::vector<std::uint8_t>> read(std::uint8_t address, std::size_t length) {
        start();
        if (!sendByte(static_cast<std::uint8_t>((address << 1) | 1))) {
            stop();
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < length; ++i) {
            std::uint8_t byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                set(true, false);  // SDA released; the device puts its bit out after the fall
                set(true, true);
                byte = static_cast<std::uint8_t>((byte << 1) | (lines_.sampleSda() ? 1 : 0));
            }
            const bool last = i + 1 == length;
            set(last, false);  // acknowledge low for another byte, high after the last
            set(last, true);
            bytes.push_back(byte);
        }
        stop();
        return bytes;
    }

private:
    void set(bool sda, bool scl) { lines_.drive(bus::LineLevels(sda, scl, true)); }
    void start() {
        set(true, true);
        set(false, true);
    }
    void stop() {
        set(false, false);
        set(false, true);
        set(true, true);
    }
    // Eight bits, then the ninth clock with SDA released: low means acknowledged.
    bool sendByte(std::uint8_t byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool level = ((byte >> bit) & 1) != 0;
            set(level, false);
            set(level, true);
        }
        set(true, false);
        set(true, true);
        return !lines_.sampleSda();
    }

    bus::LineBackend& lines_;
};

}  // namespace vm
