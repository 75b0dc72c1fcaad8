#include "ports/mpsse.h"

namespace ports::mpsse {
namespace {

constexpr std::uint8_t bit(unsigned pin) { return static_cast<std::uint8_t>(1U << pin); }

// push_back, not an initializer list: GCC 12 at -O3 warns falsely about the
// list's insert (array-bounds).
void append(std::vector<std::uint8_t>& out, std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    out.push_back(a);
    out.push_back(b);
    out.push_back(c);
}

}  // namespace

std::uint8_t Encoder::value(bool scl, bool sda, bool shdn) const {
    unsigned v = 0;
    if (wiring_.driveZero) v |= (scl ? bit(wiring_.scl) : 0U) | (sda ? bit(wiring_.sda) : 0U);
    if (wiring_.shdn && shdn) v |= bit(*wiring_.shdn);
    return static_cast<std::uint8_t>(v);
}

// SCL and SDA are never driven high: in drive-zero mode a pin written 1
// floats; elsewhere a released line's pin is an input, and its output latch
// holds 0 for the moment it is driven again. /SHDN is driven both ways.
std::uint8_t Encoder::direction(bool scl, bool sda) const {
    unsigned d = wiring_.shdn ? bit(*wiring_.shdn) : 0U;
    if (wiring_.driveZero || !scl) d |= bit(wiring_.scl);
    if (wiring_.driveZero || !sda) d |= bit(wiring_.sda);
    return static_cast<std::uint8_t>(d);
}

std::vector<std::uint8_t> Encoder::setup() const {
    std::vector<std::uint8_t> out{kDivideBy5Off, kAdaptiveOff, kThreePhaseOff, kLoopbackOff};
    if (wiring_.driveZero) append(out, kDriveZero, static_cast<std::uint8_t>(bit(wiring_.scl) | bit(wiring_.sda)), 0);
    append(out, kSetLow, value(true, true, true), direction(true, true));
    return out;
}

void Encoder::set(bool scl, bool sda, bool shdn) {
    append(queue_, kSetLow, value(scl, sda, shdn), direction(scl, sda));
    scl_ = scl;
    sda_ = sda;
    shdn_ = shdn;
}

void Encoder::drive(bus::LineLevels levels) {
    const bool stop = scl_ && levels.scl() && !sda_ && levels.sda();
    const bool shutdown = shdn_ && !levels.shdn();
    if (wiring_.shdn && levels.shdn() != shdn_) set(scl_, sda_, levels.shdn());
    if (levels.sda() != sda_ && levels.scl() != scl_) {
        if (levels.scl()) {
            set(scl_, levels.sda(), levels.shdn());
        } else {
            set(levels.scl(), sda_, levels.shdn());
        }
    }
    if (levels.sda() != sda_ || levels.scl() != scl_) set(levels.scl(), levels.sda(), levels.shdn());
    shdn_ = levels.shdn();
    ended_ = stop || shutdown;
}

void Encoder::sample() {
    queue_.push_back(kReadLow);
    queue_.push_back(kSendImmediate);
}

}  // namespace ports::mpsse
