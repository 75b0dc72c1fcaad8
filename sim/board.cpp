// The device model. It sees only the levels on SDA and SCL: it detects start and
// stop, clocks bits in on SCL rising, drives its acknowledge on the ninth clock
// and, when read, changes its output right after SCL falls.
#include "sim/board.h"

#include "bus/lines.h"

namespace sim {

Board::Board(bool withDevice) : withDevice_(withDevice) {}

void Board::OutportW(std::uint16_t port, std::uint16_t value) {
    if (port != bus::kDataRegister) throw bus::badRegister("sim", "write", port);
    data_ = static_cast<std::uint8_t>(value & 0xFF);
    for (const auto& e : decoder_.step(lines_.write(data_, [this] { sclFell(); }))) {
        switch (e.kind) {
            case bus::Decoder::Kind::Start:
            case bus::Decoder::Kind::RepeatedStart: start(); break;
            case bus::Decoder::Kind::Stop: stop(); break;
            case bus::Decoder::Kind::Byte: byteClocked(e.byte); break;
            case bus::Decoder::Kind::Acknowledge: ninthClock(e.level); break;
        }
    }
}

std::uint16_t Board::InportW(std::uint16_t port) {
    if (port == bus::kDataRegister) return data_;
    if (port != bus::kStatusRegister) throw bus::badRegister("sim", "read", port);
    return lines_.status(kStatusIdleBits);
}

const Transaction& Board::transaction(std::size_t i) const {
    const std::size_t first = total_ - transactionCount();
    return history_[(first + i) % kHistory];
}

void Board::start() {
    // A start, repeated or not, ends whatever was going on.
    lines_.drive(true);
    nextByte_ = false;
    open_ = false;  // recorded once its address byte is complete
    if (!withDevice_) return;
    state_ = State::Receiving;
    bits_ = 0;
    shift_ = 0;
    byteIndex_ = 0;
    reading_ = false;
}

void Board::stop() {
    lines_.drive(true);
    nextByte_ = false;
    if (open_) current().stopped = true;
    open_ = false;
    state_ = State::Idle;
}

void Board::record(std::uint8_t byte) {
    if (!open_) return;
    Transaction& t = current();
    if (t.byteCount < t.bytes.size()) t.bytes[t.byteCount] = byte;
    ++t.byteCount;
}

void Board::byteReceived(std::uint8_t byte) {
    if (byteIndex_ == 0) {
        ++total_;
        open_ = true;
        current() = Transaction{};
        current().address = byte;
        if ((byte >> 1) != kAddress) {
            state_ = State::Ignoring;  // not ours: stay off the bus until the next start or stop
            return;
        }
        current().acknowledged = true;
        reading_ = (byte & 1) != 0;
        current().read = reading_;
    } else if (byteIndex_ == 1) {
        selected_ = (byte & 0x80) != 0 ? 1 : 0;  // instruction bit 7 selects wiper 2
        record(byte);
    } else {
        if (byteIndex_ == 2) wipers_[static_cast<std::size_t>(selected_)] = byte;
        record(byte);
    }
    ++byteIndex_;
    state_ = State::AckOut;
}

// Puts the selected wiper's code out, most significant bit first, right after a fall.
void Board::beginSending() {
    state_ = State::Sending;
    shift_ = static_cast<std::uint8_t>(wipers_[static_cast<std::size_t>(selected_)]);
    record(shift_);
    lines_.drive((shift_ & 0x80) != 0);
}

void Board::byteClocked(std::uint8_t byte) {
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

void Board::ninthClock(bool level) {
    // The master's acknowledge after a byte read: low asks for another byte,
    // high ends the read.
    if (state_ != State::AckIn) return;
    if (level) {
        state_ = State::Ignoring;
    } else {
        nextByte_ = true;  // the next fall starts the next byte
    }
}

void Board::sclFell() {
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
