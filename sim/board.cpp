// The device model. It sees only the levels on SDA and SCL: it detects start and
// stop, clocks bits in on SCL rising, drives its acknowledge on the ninth clock
// and, when read, changes its output right after SCL falls.
#include "sim/board.h"

namespace sim {

void Device::event(const bus::Decoder::Event& e) {
    // The transaction an event ends is kept as the device saw it, before the
    // event's own reaction (a start) begins the next one.
    if (const bus::Transaction* ended = assembler_.step(e)) close(*ended);
    switch (e.kind) {
        case bus::Decoder::Kind::Start:
        case bus::Decoder::Kind::RepeatedStart: start(); break;
        case bus::Decoder::Kind::Stop: stop(); break;
        case bus::Decoder::Kind::Byte: byteClocked(e.byte); break;
        case bus::Decoder::Kind::Acknowledge: ninthClock(e.level); break;
    }
    track();
}

const Transaction& Device::transaction(std::size_t i) const {
    const std::size_t first = total_ - transactionCount();
    if (open_ && first + i + 1 == total_) newest() = Transaction{assembler_.current(), acknowledged_};
    return history_[(first + i) % kHistory];
}

// The history holds the transactions the device saw from their address byte on;
// an absent device sees none.
void Device::close(const bus::Transaction& ended) {
    if (open_) newest() = Transaction{ended, acknowledged_};
    open_ = false;
}

void Device::track() {
    if (!withDevice_) return;
    if (open_ || !assembler_.current().addressed) return;
    ++total_;
    open_ = true;
}

void Device::start() {
    // A start, repeated or not, ends whatever was going on.
    lines_.drive(true);
    nextByte_ = false;
    acknowledged_ = false;
    if (!withDevice_) return;
    state_ = State::Receiving;
    bits_ = 0;
    shift_ = 0;
    byteIndex_ = 0;
    reading_ = false;
}

void Device::stop() {
    lines_.drive(true);
    nextByte_ = false;
    state_ = State::Idle;
}

void Device::byteReceived(std::uint8_t byte) {
    if (byteIndex_ == 0) {
        if ((byte >> 1) != address_) {
            state_ = State::Ignoring;  // not ours: stay off the bus until the next start or stop
            return;
        }
        acknowledged_ = true;
        reading_ = (byte & 1) != 0;
    } else if (byteIndex_ + 1 == nackByte_) {
        state_ = State::Ignoring;  // a fault: this byte goes unacknowledged, and the rest unheard
        return;
    } else if (byteIndex_ == 1) {
        selected_ = (byte & 0x80) != 0 ? 1 : 0;  // instruction bit 7 selects wiper 2
    } else if (byteIndex_ == 2) {
        wipers_[static_cast<std::size_t>(selected_)] = byte;
    }
    ++byteIndex_;
    state_ = State::AckOut;
}

// Puts the selected wiper's code out, most significant bit first, right after a fall.
void Device::beginSending() {
    state_ = State::Sending;
    shift_ = static_cast<std::uint8_t>(wipers_[static_cast<std::size_t>(selected_)]);
    lines_.drive((shift_ & 0x80) != 0);
}

void Device::byteClocked(std::uint8_t byte) {
    switch (state_) {
        case State::Receiving:
            // The eighth bit completes the byte: a code takes effect here, so a
            // frame that ends without a ninth clock still sets the wiper.
            byteReceived(byte);
            break;
        case State::Sending: state_ = State::AckIn; break;
        default: break;
    }
}

void Device::ninthClock(bool level) {
    // The master's acknowledge after a byte read: low asks for another byte,
    // high ends the read.
    if (state_ != State::AckIn) return;
    if (level) {
        state_ = State::Ignoring;
    } else {
        nextByte_ = true;  // the next fall starts the next byte
    }
}

void Device::sclFell() {
    // Stuck, it counts the clocks it waits for on their falling edges (the same
    // count: the master samples after each rise) and lets go on the last.
    // Meanwhile SDA cannot move, so no start, stop or bit reaches the decoder.
    if (stuck_ > 0) {
        if (--stuck_ == 0) lines_.drive(true);
        return;
    }
    switch (state_) {
        case State::AckOut:
            if (lines_.deviceOutput()) {
                lines_.drive(false);  // drive the acknowledge for the ninth clock
                return;
            }
            // Ninth clock over: release, then receive the next byte or start sending.
            lines_.drive(true);
            bits_ = 0;
            shift_ = 0;
            if (reading_) {
                beginSending();
            } else {
                state_ = State::Receiving;
            }
            return;
        case State::Sending:
            ++bits_;
            lines_.drive(((shift_ << bits_) & 0x80) != 0);  // next bit, most significant first
            return;
        case State::AckIn:
            if (nextByte_) {
                nextByte_ = false;
                bits_ = 0;
                beginSending();
            } else {
                lines_.drive(true);  // release for the master's acknowledge
            }
            return;
        default:
            lines_.drive(true);
            return;
    }
}

}  // namespace sim
