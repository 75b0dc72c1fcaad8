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

namespace bus {

// The levels one write of the data register puts on the lines; true is high
// (released, for the open-drain SDA and SCL).
struct LineLevels {
    bool sda = true;
    bool scl = true;
    bool shdn = true;  // the board's /SHDN input, active low
    friend bool operator==(LineLevels, LineLevels) = default;
};

// The wiring: D0 is SDA, D1 is SCL, D4 is /SHDN. The other data bits reach no line.
constexpr LineLevels levelsOf(std::uint8_t data) {
    return {(data & kSdaLine) != 0, (data & kSclLine) != 0, (data & kShutdownLine) != 0};
}

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

// The parallel port's two registers over a line backend: writes of 0x378 drive
// the lines, reads of 0x379 sample SDA, a read of 0x378 gives the last value
// written (as a port's data latch does); any other address is refused. Lines is
// LineBackend for a backend chosen at run time, or a final backend type where
// one is built in (the simulated board), so that its calls go direct.
template <typename Lines>
class BasicLinePort final : public Port {
public:
    // name: how messages call the backend ("sim", "i2c /dev/i2c-1").
    BasicLinePort(std::string name, Lines& lines) : name_(std::move(name)), lines_(lines) {}
    BasicLinePort(std::string name, std::unique_ptr<Lines> lines)
        : name_(std::move(name)), lines_(*lines), owned_(std::move(lines)) {}

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        if (port != kDataRegister) throw badRegister(name_, "write", port);
        const auto data = static_cast<std::uint8_t>(value & 0xFF);
        lines_.drive(levelsOf(data));
        data_ = data;
    }

    std::uint16_t InportW(std::uint16_t port) override {
        if (port == kStatusRegister) return statusWord(lines_.sampleSda());
        if (port == kDataRegister) return data_;
        throw badRegister(name_, "read", port);
    }

    Lines& lines() { return lines_; }

private:
    std::string name_;
    Lines& lines_;
    std::unique_ptr<Lines> owned_;
    std::uint8_t data_ = 0xFF;  // lines released until the first write
};

using LinePort = BasicLinePort<LineBackend>;

}  // namespace bus
