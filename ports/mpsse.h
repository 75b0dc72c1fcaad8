// The programs' line changes as an FTDI MPSSE command stream: each change is a
// "set the low byte's pins" command (0x80, value, direction), queued until SDA
// must be sampled (0x81 then 0x87, one byte back) or the transaction ends, so
// that a write frame goes out as one USB write. Toolkit- and library-free, so
// that tests and the benchmark see exactly the bytes the adapter gets.
#pragma once

#include "bus/line_port.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ports::mpsse {

enum Opcode : std::uint8_t {
    kSetLow = 0x80,          // value, direction of ADBUS0..7
    kReadLow = 0x81,         // answers one byte: the ADBUS pins
    kLoopbackOff = 0x85,
    kSendImmediate = 0x87,   // answers now, not at the latency timer
    kThreePhaseOff = 0x8D,   // H chips
    kDivideBy5Off = 0x8A,    // H chips
    kAdaptiveOff = 0x97,     // H chips
    kDriveZero = 0x9E,       // FT232H only: low mask, high mask
    kBadCommand = 0xFA,      // the engine's answer to an opcode it does not know, then the opcode
    kSync = 0xAA,            // an opcode no chip knows: its echo shows the engine runs
};

// Which ADBUS pins carry the lines. SDA is read back on sdaIn, which is tied to
// sda on the common wiring (or is sda itself on a one-pin wiring).
struct Wiring {
    unsigned scl = 0;
    unsigned sda = 1;
    unsigned sdaIn = 2;
    std::optional<unsigned> shdn;
    // The FT232H can drive a pin low and float it high by itself (opcode 0x9E);
    // elsewhere a released line is a pin turned into an input.
    bool driveZero = false;
};

class Encoder {
public:
    explicit Encoder(Wiring wiring) : wiring_(wiring) {}

    // Starting the engine with the lines released and /SHDN high.
    std::vector<std::uint8_t> setup() const;

    // One write of the lines, as 0x80 commands, one line change each: /SHDN
    // first; where SCL falls and SDA moves, SCL first; where SCL rises and SDA
    // moves, SDA first. No change, no bytes.
    void drive(bus::LineLevels levels);
    // Asks for the pins now; the answer is one byte.
    void sample();
    bool sda(std::uint8_t pins) const { return ((pins >> wiring_.sdaIn) & 1) != 0; }

    const std::vector<std::uint8_t>& queued() const { return queue_; }
    void clear() { queue_.clear(); }

    // The line write just queued ended a transaction: a stop, or /SHDN
    // falling on its own (a shutdown, which no frame follows).
    bool endsTransaction() const { return ended_; }

private:
    void set(bool scl, bool sda, bool shdn);
    std::uint8_t value(bool scl, bool sda, bool shdn) const;
    std::uint8_t direction(bool scl, bool sda) const;

    Wiring wiring_;
    std::vector<std::uint8_t> queue_;
    bool scl_ = true;
    bool sda_ = true;
    bool shdn_ = true;
    bool ended_ = false;
};

}  // namespace ports::mpsse
