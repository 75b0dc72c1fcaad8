// The simulated board: a two-wiper potentiometer on the two-wire bus, decoded
// from the line levels alone, and the parallel port it sits on.
#pragma once

#include "bus/assembler.h"
#include "bus/decoder.h"
#include "bus/device_lines.h"
#include "bus/line_port.h"
#include "bus/lines.h"
#include "bus/port.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

// One bus transaction as the device saw it, from a start to the next start or
// stop, and whether the device answered its address.
struct Transaction : bus::Transaction {
    bool acknowledged = false;
};

// Faults a device can be made to show, for the acknowledge check and bus
// recovery to meet without hardware.
struct Faults {
    int stuckClocks = 0;  // holds SDA low from power-up until it has seen this many clocks
    int nackByte = 0;     // does not acknowledge this byte of a write (2: the instruction)
    std::uint8_t address = bus::kSlaveAddress;  // the 7-bit address the chip is strapped to
};

// What the chip keeps while powered: both wipers, the selected wiper, shutdown.
struct Kept {
    std::array<int, 2> wipers;
    int selectedChannel;  // 1 or 2
    bool shutdown;
    friend bool operator==(const Kept&, const Kept&) = default;
};

// The device on the lines: it detects start and stop, clocks bits in on SCL
// rising, drives its acknowledge on the ninth clock and, when read, changes its
// output right after SCL falls. Any line backend's host (the board below, an
// emulated USB GPIO expander) can put it on its pins.
class Device final : public bus::LineBackend {
public:
    static constexpr std::uint8_t kAddress = bus::kSlaveAddress;
    static constexpr std::uint8_t kPowerOnCode = 128;

    // withDevice false: nothing on the bus answers (an unpowered or absent board).
    explicit Device(bool withDevice = true, Faults faults = {})
        : withDevice_(withDevice), stuck_(faults.stuckClocks), nackByte_(faults.nackByte), address_(faults.address) {
        if (stuck_ > 0) lines_.drive(false);
    }

    // Inline, so that the board's port runs the line model in one piece; the
    // rare events (conditions, bytes, acknowledges) go out of line.
    void drive(bus::LineLevels levels) override {
        shdn_ = levels.shdn();
        for (const auto& e : decoder_.step(lines_.write(levels.sda(), levels.scl(), [this] { sclFell(); }))) event(e);
    }
    bool sampleSda() override { return lines_.sda(); }

    int wiper(int channel) const { return wipers_[channel == 2 ? 1 : 0]; }
    int selectedChannel() const { return selected_ + 1; }
    bool shutdown() const { return !shdn_; }
    Kept kept() const { return {wipers_, selected_ + 1, !shdn_}; }
    // A chip that kept its state from an earlier run.
    void restore(const Kept& k) {
        wipers_ = k.wipers;
        selected_ = k.selectedChannel == 2 ? 1 : 0;
        shdn_ = !k.shutdown;
    }
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

    void event(const bus::Decoder::Event& e);
    void sclFell();
    void byteClocked(std::uint8_t byte);
    void ninthClock(bool level);
    void start();
    void stop();
    void byteReceived(std::uint8_t byte);
    void beginSending();
    void close(const bus::Transaction& ended);
    void track();
    Transaction& newest() const { return history_[(total_ - 1) % kHistory]; }

    bool withDevice_;
    int stuck_;
    int nackByte_;
    std::uint8_t address_;
    bool shdn_ = true;
    bus::DeviceLines lines_;

    bus::Decoder decoder_;
    bus::TransactionAssembler assembler_;
    State state_ = State::Idle;
    int bits_ = 0;  // bits of the byte being sent that are on the line already, less one
    bool nextByte_ = false;  // the master asked for another byte
    std::uint8_t shift_ = 0;
    int byteIndex_ = 0;  // 0 address, 1 instruction, 2 code
    bool reading_ = false;
    bool acknowledged_ = false;  // the transaction in progress is this device's
    bool open_ = false;  // the newest history entry is the transaction in progress
    int selected_ = 0;
    std::array<int, 2> wipers_{kPowerOnCode, kPowerOnCode};

    // The transaction in progress is copied in from the assembler when asked for.
    mutable std::array<Transaction, kHistory> history_{};
    std::size_t total_ = 0;
};

// The device on a parallel port (the wiring of bus/line_port.h): the port the
// programs and tests write to.
class Board final : public bus::Port {
public:
    static constexpr std::uint8_t kAddress = Device::kAddress;
    static constexpr std::uint8_t kPowerOnCode = Device::kPowerOnCode;
    static constexpr std::uint8_t kStatusIdleBits = bus::kStatusIdleBits;
    static constexpr std::size_t kHistory = Device::kHistory;

    explicit Board(bool withDevice = true, Faults faults = {}) : device_(withDevice, faults) {}

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        bus::writeRegister(device_, latch_, "sim", port, value);
    }
    std::uint16_t InportW(std::uint16_t port) override { return bus::readRegister(device_, latch_, "sim", port); }

    const Device& device() const { return device_; }
    Device& device() { return device_; }

    // A board whose chip kept its state from an earlier run: a chip that was
    // shut down was left so by a data register with D4 low, and reads so.
    void restore(const Kept& k) {
        device_.restore(k);
        if (k.shutdown) latch_ = static_cast<std::uint8_t>(latch_ & ~bus::kShutdownLine);
    }

    // The device's state, for tests and views.
    int wiper(int channel) const { return device_.wiper(channel); }
    int selectedChannel() const { return device_.selectedChannel(); }
    bool shutdown() const { return device_.shutdown(); }
    bool scl() const { return device_.scl(); }
    bool sda() const { return device_.sda(); }
    std::size_t transactionCount() const { return device_.transactionCount(); }
    const Transaction& transaction(std::size_t i) const { return device_.transaction(i); }
    const Transaction& lastTransaction() const { return device_.lastTransaction(); }
    std::size_t totalTransactions() const { return device_.totalTransactions(); }

private:
    Device device_;
    std::uint8_t latch_ = 0xFF;  // lines released until the first write
};

}  // namespace sim
