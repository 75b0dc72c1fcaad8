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
    for (const auto& e : decoder_.step(lines_.write(static_cast<std::uint8_t>(value & 0xFF)))) {
        switch (e.kind) {
            case bus::Decoder::Kind::Start:
            case bus::Decoder::Kind::RepeatedStart:
            case bus::Decoder::Kind::Stop: condition(e); break;
            case bus::Decoder::Kind::Byte:
                byteIndex_ = e.index;
                if (e.index == 0) {
                    emit(EventKind::Address, static_cast<std::uint8_t>(e.byte >> 1), (e.byte & 1) != 0);
                } else {
                    emit(EventKind::Data, e.byte);
                }
                break;
            case bus::Decoder::Kind::Acknowledge:
                emit(e.level ? EventKind::Nack : EventKind::Ack);
                byteIndex_ = e.index + 1;
                break;
        }
    }
}

void Checker::read(std::uint16_t port, std::uint16_t value) {
    ++index_;
    if (port == bus::kStatusRegister) lines_.read(value);
}

void Checker::condition(const bus::Decoder::Event& e) {
    if (e.pendingBits == 8) {
        find(FindingKind::ByteWithoutNinthClock, "byte " + std::to_string(byteIndex_ + 1) + " ended without its ninth clock");
    } else if (e.pendingBits > 0 && !e.setupClock) {
        find(FindingKind::SdaChangeInsideByte, "SDA changed while SCL high after " + std::to_string(e.pendingBits) +
                                                   " bits of byte " + std::to_string(byteIndex_ + 1));
    }
    if (e.kind == bus::Decoder::Kind::Stop) {
        emit(EventKind::Stop);
    } else {
        emit(e.kind == bus::Decoder::Kind::RepeatedStart ? EventKind::RepeatedStart : EventKind::Start);
    }
    byteIndex_ = 0;
}

void Checker::finish() {
    const bool inTransaction = decoder_.inTransaction();
    if (inTransaction || !lines_.scl() || !lines_.sda()) {
        find(FindingKind::NotIdleAtEnd, std::string("the bus is not idle at the end (SCL ") +
                                            (lines_.scl() ? "high" : "low") + ", SDA " + (lines_.sda() ? "high" : "low") +
                                            (inTransaction ? ", no stop)" : ")"));
    }
}

}  // namespace buscheck
