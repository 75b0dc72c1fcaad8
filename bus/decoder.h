// The two-wire bus as a receiver on it sees it, from line levels alone: start
// and stop (SDA moving while SCL is high), bits sampled on SCL rising, a byte
// after every eight bits and the acknowledge on the ninth clock. The simulated
// board, the bus checker and the i2c backend each put their own rules on top.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace bus {

// One change of the lines. A write that moves both lines counts a falling SCL
// before the SDA change and a rising SCL after it, so it is never a start or stop.
struct LineStep {
    bool sclFell;
    bool sclRose;
    bool sclHigh;    // SCL after the step
    bool sdaBefore;  // SDA before the step's SDA change (after a fall)
    bool sdaAfter;
    bool masterSda;  // the master's own SDA after the step (false: it holds the line low)
};

class Decoder {
public:
    enum class Kind : std::uint8_t { Start, RepeatedStart, Stop, Byte, Acknowledge };

    // Made whole where it is made; the fields a kind does not use are zero.
    struct Event {
        Kind kind;
        std::uint8_t byte;     // Byte: its value, most significant bit first on the line
        bool level;            // Acknowledge: SDA on the ninth clock (false: acknowledged)
        bool masterLow;        // Acknowledge: the master held SDA low itself
        bool setupClock;       // Start, Stop: that one bit was the condition's own setup clock
        int index;             // Byte, Acknowledge: 0 for the address byte, then 1, 2, ...
        int pendingBits;       // Start, Stop: bits of an unfinished byte cut off by it
    };

    // At most two events a step: a condition, or a byte, or an acknowledge.
    // Only the first `count` items are ever written or read: nothing is cleared
    // on the many steps that make no event.
    struct Events {
        std::array<Event, 2> items;
        std::size_t count = 0;
        const Event* begin() const { return items.data(); }
        const Event* end() const { return items.data() + count; }
    };

    Events step(const LineStep& s) {
        Events out;
        if (s.sclFell) highSinceRise_ = false;
        if (s.sclHigh && !s.sclRose && s.sdaBefore != s.sdaAfter) {
            Event e{};
            e.kind = s.sdaAfter ? Kind::Stop : (inTransaction_ ? Kind::RepeatedStart : Kind::Start);
            if (inTransaction_) {
                e.pendingBits = bits_;
                e.setupClock = bits_ == 1 && highSinceRise_;
            }
            out.items[out.count++] = e;
            inTransaction_ = !s.sdaAfter;
            bits_ = 0;
            shift_ = 0;
            byteIndex_ = 0;
            highSinceRise_ = false;
            return out;
        }
        if (!s.sclRose || !inTransaction_) return out;
        highSinceRise_ = true;
        if (bits_ < 8) {
            shift_ = static_cast<std::uint8_t>((shift_ << 1) | (s.sdaAfter ? 1 : 0));
            if (++bits_ == 8) {
                Event byte{};
                byte.kind = Kind::Byte;
                byte.byte = shift_;
                byte.index = byteIndex_;
                out.items[out.count++] = byte;
            }
            return out;
        }
        Event ack{};
        ack.kind = Kind::Acknowledge;
        ack.index = byteIndex_;
        ack.level = s.sdaAfter;
        ack.masterLow = !s.masterSda;
        out.items[out.count++] = ack;
        bits_ = 0;
        shift_ = 0;
        ++byteIndex_;
        highSinceRise_ = false;
        return out;
    }

    bool inTransaction() const { return inTransaction_; }

private:
    bool inTransaction_ = false;
    int bits_ = 0;  // bits of the current byte so far, 0..8 (8: waiting for the ninth clock)
    std::uint8_t shift_ = 0;
    int byteIndex_ = 0;
    bool highSinceRise_ = false;  // SCL still high since the last counted rise
};

}  // namespace bus
