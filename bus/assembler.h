// Whole transactions from the decoder's events: the address byte and the bytes
// after it, each with what the line showed on its ninth clock, from a start to
// the next start or stop. The simulated board keeps them as its history, the
// i2c backend sends them to the kernel, the decoded trace prints them.
#pragma once

#include "bus/decoder.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace bus {

// The ninth clock after a byte, as the line carried it.
enum class Ack : std::uint8_t {
    None,    // no ninth clock (yet)
    Master,  // low, with the master holding SDA low itself
    Device,  // low, pulled by a device while the master released SDA
    Nack,    // high
};

struct Transaction {
    // A frame carries three bytes; a hand-set panel cannot make more. Longer
    // transactions are counted, and their first bytes kept.
    static constexpr std::size_t kBytes = 8;

    bool started = false;      // a start began it (the assembler's current one only)
    std::uint8_t address = 0;  // the address byte, read/write bit included
    bool addressed = false;    // the address byte is complete
    bool read = false;         // the address byte's read bit
    Ack addressAck = Ack::None;
    std::array<std::uint8_t, kBytes> bytes{};  // after the address: written, or read
    std::array<Ack, kBytes> acks{};
    std::size_t byteCount = 0;  // may pass kBytes: only the first kBytes are kept
    bool stopped = false;       // ended by a stop, not by a new start
    bool noNinthClock = false;  // ended on the ninth clock of its last byte (program A's frames)

    std::size_t kept() const { return byteCount < kBytes ? byteCount : kBytes; }
    std::uint8_t address7() const { return static_cast<std::uint8_t>(address >> 1); }
};

class TransactionAssembler {
public:
    // Feeds one event. A start, a repeated start or a stop ends the transaction
    // in progress: the one it ended is returned if it had its address byte.
    const Transaction* step(const Decoder::Event& e) {
        switch (e.kind) {
            case Decoder::Kind::Start:
            case Decoder::Kind::RepeatedStart:
            case Decoder::Kind::Stop: {
                const bool had = current_.addressed;
                current_.stopped = e.kind == Decoder::Kind::Stop;
                current_.noNinthClock = e.pendingBits == 8;
                if (had) ended_ = current_;
                current_ = Transaction{};
                current_.started = e.kind != Decoder::Kind::Stop;
                return had ? &ended_ : nullptr;
            }
            case Decoder::Kind::Byte:
                if (e.index == 0) {
                    current_.address = e.byte;
                    current_.addressed = true;
                    current_.read = (e.byte & 1) != 0;
                } else {
                    if (current_.byteCount < Transaction::kBytes) current_.bytes[current_.byteCount] = e.byte;
                    ++current_.byteCount;
                }
                return nullptr;
            case Decoder::Kind::Acknowledge: {
                const Ack ack = e.masterLow ? Ack::Master : (e.level ? Ack::Nack : Ack::Device);
                if (e.index == 0) {
                    current_.addressAck = ack;
                } else if (static_cast<std::size_t>(e.index) <= current_.kept()) {
                    current_.acks[static_cast<std::size_t>(e.index) - 1] = ack;
                }
                return nullptr;
            }
        }
        return nullptr;
    }

    const Transaction& current() const { return current_; }

    // What the line showed on the ninth clock just recorded turned out low: a
    // device's answer, learnt from a sample taken while SCL was still high
    // (a view from the port, which sees SDA only when it reads it).
    void answeredLow() {
        Ack& ack = current_.byteCount == 0 ? current_.addressAck : current_.acks[current_.kept() - 1];
        if (ack == Ack::Nack) ack = Ack::Device;
    }

private:
    Transaction current_;
    Transaction ended_;
};

}  // namespace bus
