// The simulated board: a parallel port whose data lines drive a two-wiper
// potentiometer on the two-wire bus, decoded from the line levels alone.
#pragma once

#include "bus/decoder.h"
#include "bus/device_lines.h"
#include "bus/lines.h"
#include "bus/port.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

// One bus transaction as the device saw it, from a start to the next start or stop.
struct Transaction {
    std::uint8_t address = 0;  // the first byte, read/write bit included
    bool acknowledged = false; // the device answered its address
    bool read = false;
    bool stopped = false;      // ended by a stop rather than a new start
    std::array<std::uint8_t, 4> bytes{};  // bytes written after the address, or bytes read
    std::size_t byteCount = 0;
};

class Board final : public bus::Port {
public:
    static constexpr std::uint8_t kAddress = bus::kSlaveAddress;
    static constexpr std::uint8_t kPowerOnCode = 128;
    // Status bits other than bit 3 hold this fixed pattern, as an idle port shows it.
    static constexpr std::uint8_t kStatusIdleBits = 0x77;

    // withDevice false: nothing on the bus answers (an unpowered or absent board).
    explicit Board(bool withDevice = true);

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    // The device's state, for tests and views.
    int wiper(int channel) const { return wipers_[channel == 2 ? 1 : 0]; }
    int selectedChannel() const { return selected_ + 1; }
    bool shutdown() const { return (data_ & bus::kShutdownLine) == 0; }  // /SHDN is D4, active low
    bool scl() const { return lines_.scl(); }
    bool sda() const { return lines_.sda(); }

    // The last transactions, oldest first; at most kHistory are kept.
    static constexpr std::size_t kHistory = 16;
    std::size_t transactionCount() const { return total_ < kHistory ? total_ : kHistory; }
    const Transaction& transaction(std::size_t i) const;  // 0 = oldest kept
    const Transaction& lastTransaction() const { return transaction(transactionCount() - 1); }
    std::size_t totalTransactions() const { return total_; }

private:
    enum class State : std::uint8_t { Idle, Ignoring, Receiving, AckOut, Sending, AckIn };

    void sclFell();
    void byteClocked(std::uint8_t byte);
    void ninthClock(bool level);
    void start();
    void stop();
    void byteReceived(std::uint8_t byte);
    void beginSending();
    Transaction& current() { return history_[(total_ - 1) % kHistory]; }
    void record(std::uint8_t byte);

    bool withDevice_;
    std::uint8_t data_ = 0xFF;  // lines released until the first write
    bus::DeviceLines lines_;

    bus::Decoder decoder_;
    State state_ = State::Idle;
    int bits_ = 0;  // bits of the byte being sent that are on the line already, less one
    bool nextByte_ = false;  // the master asked for another byte
    std::uint8_t shift_ = 0;
    int byteIndex_ = 0;  // 0 address, 1 instruction, 2 code
    bool reading_ = false;
    bool open_ = false;  // the newest history entry is the transaction in progress
    int selected_ = 0;
    std::array<int, 2> wipers_{kPowerOnCode, kPowerOnCode};

    std::array<Transaction, kHistory> history_{};
    std::size_t total_ = 0;
};

}  // namespace sim
