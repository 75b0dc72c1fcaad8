// The line-level seam. A backend that is not a parallel port (the simulated
// board, an I2C adapter, GPIO pins) drives three lines and samples one; one
// adapter turns the programs' register accesses into those line changes
// through the parallel port's wiring.
#pragma once

#include "bus/lines.h"
#include "bus/port.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace bus {

// The levels one write of the data register puts on the lines; true is high
// (released, for the open-drain SDA and SCL). Held as the data register's bits
// for the wired lines, so that the adapter's mapping costs one mask.
class LineLevels {
public:
    constexpr LineLevels(bool sda, bool scl, bool shdn)
        : bits_(static_cast<std::uint8_t>((sda ? kSdaLine : 0) | (scl ? kSclLine : 0) | (shdn ? kShutdownLine : 0))) {}

    // The wiring: D0 is SDA, D1 is SCL, D4 is /SHDN. The other data bits reach no line.
    static constexpr LineLevels fromData(std::uint8_t data) { return LineLevels(data); }

    constexpr bool sda() const { return (bits_ & kSdaLine) != 0; }
    constexpr bool scl() const { return (bits_ & kSclLine) != 0; }
    constexpr bool shdn() const { return (bits_ & kShutdownLine) != 0; }  // the board's /SHDN input, active low
    friend constexpr bool operator==(LineLevels, LineLevels) = default;

private:
    constexpr explicit LineLevels(std::uint8_t data)
        : bits_(static_cast<std::uint8_t>(data & (kSdaLine | kSclLine | kShutdownLine))) {}
    std::uint8_t bits_;
};

// The status word a line backend's port shows: SDA on bit 3, the rest idle.
constexpr std::uint16_t statusWord(bool sda) {
    return static_cast<std::uint16_t>(kStatusIdleBits | (sda ? kSdaStatusMask : 0));
}

// What a line-level backend offers. Both may throw PortError.
class LineBackend {
public:
    virtual ~LineBackend() = default;

    // One write of the data register: every line at once. Where SCL and SDA
    // both change, the backend keeps the bus valid (see each backend for how).
    virtual void drive(LineLevels levels) = 0;

    // SDA as the line holds it now (the wired AND of the master and any device).
    virtual bool sampleSda() = 0;
};

// The parallel port's two registers over a line backend: a write of 0x378
// drives the lines, a read of 0x379 samples SDA, a read of 0x378 gives the last
// value written (as a port's data latch does); any other address is refused,
// naming the backend. Written once, for a backend of any type: LinePort uses it
// over a backend chosen at run time, the simulated board over its own device,
// so that the board's calls go direct.
template <typename Lines>
void writeRegister(Lines& lines, std::uint8_t& latch, std::string_view name, std::uint16_t port, std::uint16_t value) {
    if (port != kDataRegister) throw badRegister(name, "write", port);
    latch = static_cast<std::uint8_t>(value & 0xFF);
    lines.drive(LineLevels::fromData(latch));
}

template <typename Lines>
std::uint16_t readRegister(Lines& lines, std::uint8_t latch, std::string_view name, std::uint16_t port) {
    if (port == kStatusRegister) return statusWord(lines.sampleSda());
    if (port == kDataRegister) return latch;
    throw badRegister(name, "read", port);
}

// A line backend as the programs' port.
class LinePort final : public Port {
public:
    // name: how messages call the backend ("i2c /dev/i2c-1").
    LinePort(std::string name, std::unique_ptr<LineBackend> lines) : name_(std::move(name)), lines_(std::move(lines)) {}

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        writeRegister(*lines_, latch_, name_, port, value);
    }
    std::uint16_t InportW(std::uint16_t port) override { return readRegister(*lines_, latch_, name_, port); }

    LineBackend& lines() { return *lines_; }

private:
    std::string name_;
    std::unique_ptr<LineBackend> lines_;
    std::uint8_t latch_ = 0xFF;  // lines released until the first write
};

}  // namespace bus
