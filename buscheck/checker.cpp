// The bus checker. Bits count on SCL rising, as a logic analyser's decoder does;
// a start or stop right after a rise with no fall in between is that condition's
// own setup clock, not a bit.
#include "buscheck/checker.h"

#include <cstdio>

namespace buscheck {

std::string describe(const Event& event) {
    char text[48];
    switch (event.kind) {
        case EventKind::Start: return "start";
        case EventKind::RepeatedStart: return "repeated start";
        case EventKind::Stop: return "stop";
        case EventKind::Ack: return "ack";
        case EventKind::Nack: return "nack";
        case EventKind::Address:
            std::snprintf(text, sizeof text, "address %s 0x%02x", event.read ? "read" : "write", event.value);
            return text;
        case EventKind::Data:
            std::snprintf(text, sizeof text, "data 0x%02x", event.value);
            return text;
    }
    return "?";
}

void Checker::clear() {
    events_.clear();
    findings_.clear();
}

void Checker::emit(EventKind kind, std::uint8_t value, bool read) {
    events_.push_back({kind, value, read, index_ == 0 ? 0 : index_ - 1});
}

void Checker::find(FindingKind kind, std::string text) {
    findings_.push_back({kind, index_ == 0 ? 0 : index_ - 1, std::move(text)});
}

void Checker::write(std::uint16_t port, std::uint16_t value) {
    ++index_;
    if (port != bus::kDataRegister) return;
    const auto step = lines_.write(static_cast<std::uint8_t>(value & 0xFF));
    if (step.sclFell) highSinceRise_ = false;
    if (lines_.scl() && !step.sclRose && step.sdaBefore != step.sdaAfter) startOrStop(step.sdaAfter);
    if (!step.sclRose || !inTransaction_) return;
    const bool level = lines_.sda();
    highSinceRise_ = true;
    if (bits_ < 8) {
        shift_ = static_cast<std::uint8_t>((shift_ << 1) | (level ? 1 : 0));
        if (++bits_ == 8) {
            if (byteIndex_ == 0) {
                emit(EventKind::Address, static_cast<std::uint8_t>(shift_ >> 1), (shift_ & 1) != 0);
            } else {
                emit(EventKind::Data, shift_);
            }
        }
        return;
    }
    emit(level ? EventKind::Nack : EventKind::Ack);  // the ninth clock
    bits_ = 0;
    shift_ = 0;
    ++byteIndex_;
    highSinceRise_ = false;
}

void Checker::read(std::uint16_t port, std::uint16_t value) {
    ++index_;
    if (port == bus::kStatusRegister) lines_.read(value);
}

void Checker::startOrStop(bool stop) {
    if (inTransaction_) {
        const bool setupClock = bits_ == 1 && highSinceRise_;
        if (bits_ == 8) {
            find(FindingKind::ByteWithoutNinthClock,
                 "byte " + std::to_string(byteIndex_ + 1) + " ended without its ninth clock");
        } else if (bits_ > 0 && !setupClock) {
            find(FindingKind::SdaChangeInsideByte, "SDA changed while SCL high after " + std::to_string(bits_) +
                                                       " bits of byte " + std::to_string(byteIndex_ + 1));
        }
    }
    if (stop) {
        emit(EventKind::Stop);
    } else {
        emit(inTransaction_ ? EventKind::RepeatedStart : EventKind::Start);
    }
    inTransaction_ = !stop;
    bits_ = 0;
    shift_ = 0;
    byteIndex_ = 0;
    highSinceRise_ = false;
}

void Checker::finish() {
    if (inTransaction_ || !lines_.scl() || !lines_.sda()) {
        find(FindingKind::NotIdleAtEnd, std::string("the bus is not idle at the end (SCL ") +
                                            (lines_.scl() ? "high" : "low") + ", SDA " + (lines_.sda() ? "high" : "low") +
                                            (inTransaction_ ? ", no stop)" : ")"));
    }
}

}  // namespace buscheck
