// An FTDI MPSSE engine's low byte, as the device wired to its pins sees it:
// the commands the ftdi backend sends, interpreted as a chip does, with the
// pins' levels (a pin is pulled up unless it is an output driving 0, or a
// drive-zero pin written 1 floats) put on a line backend's SCL, SDA and /SHDN.
// SDA's output and its read-back pin are tied, so that a read gives the bus.
// Both the unit tests' stand-in for libftdi and the VM's FT232H model use it.
#pragma once

#include "bus/line_port.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace support {

class MpsseEngine {
public:
    struct Pins {
        unsigned scl = 0;
        unsigned sda = 1;
        unsigned sdaIn = 2;
        std::optional<unsigned> shdn;
    };
    // onChange: every change of SCL, SDA or /SHDN the master's pins make.
    MpsseEngine(bus::LineBackend& device, Pins pins, std::function<void(bool scl, bool sda, bool shdn)> onChange = {})
        : device_(device), pins_(pins), onChange_(std::move(onChange)) {}

    // Runs the bytes of one USB write; answers are appended to `answer`. A
    // command split across writes waits for the rest.
    void run(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& answer) {
        pending_.insert(pending_.end(), data, data + size);
        std::size_t i = 0;
        while (i < pending_.size()) {
            const std::uint8_t op = pending_[i];
            const std::size_t length = op == 0x80 || op == 0x82 || op == 0x86 || op == 0x9E ? 3 : 1;
            if (i + length > pending_.size()) break;
            switch (op) {
                case 0x80:
                    value_ = pending_[i + 1];
                    direction_ = pending_[i + 2];
                    update();
                    break;
                case 0x81: answer.push_back(readPins()); break;
                case 0x9E: driveZero_ = pending_[i + 1]; break;
                case 0x82: case 0x86: case 0x85: case 0x87: case 0x8A: case 0x8D: case 0x97: break;
                default:
                    answer.push_back(0xFA);  // a bad command: echoed, and the engine goes on
                    answer.push_back(op);
                    ++badCommands_;
                    break;
            }
            i += length;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Leaves MPSSE mode: every pin an input.
    void reset() {
        direction_ = 0;
        driveZero_ = 0;
        pending_.clear();
        update();
    }

    int badCommands() const { return badCommands_; }
    // Times SCL or SDA was driven high by a push-pull pin, fighting a device
    // that pulls it low: never, on a sound backend.
    int drivenHigh() const { return drivenHigh_; }

private:
    bool level(unsigned pin) const {
        const unsigned mask = 1U << pin;
        return !((direction_ & mask) && !(value_ & mask));
    }
    std::uint8_t readPins() const {
        unsigned pins = 0;
        for (unsigned pin = 0; pin < 8; ++pin) {
            const bool bus = pin == pins_.sda || pin == pins_.sdaIn;
            if (bus ? device_.sampleSda() : level(pin)) pins |= 1U << pin;
        }
        return static_cast<std::uint8_t>(pins);
    }
    void update() {
        for (const unsigned pin : {pins_.scl, pins_.sda}) {
            const unsigned mask = 1U << pin;
            if ((direction_ & mask) && (value_ & mask) && !(driveZero_ & mask)) ++drivenHigh_;
        }
        const bool scl = level(pins_.scl);
        const bool sda = level(pins_.sda) && (pins_.sdaIn == pins_.sda || level(pins_.sdaIn));
        const bool shdn = !pins_.shdn || level(*pins_.shdn);
        if (scl == scl_ && sda == sda_ && shdn == shdn_) return;
        scl_ = scl;
        sda_ = sda;
        shdn_ = shdn;
        device_.drive(bus::LineLevels(sda, scl, shdn));
        if (onChange_) onChange_(scl, sda, shdn);
    }

    bus::LineBackend& device_;
    Pins pins_;
    std::function<void(bool, bool, bool)> onChange_;
    std::vector<std::uint8_t> pending_;
    std::uint8_t value_ = 0;
    std::uint8_t direction_ = 0;
    std::uint8_t driveZero_ = 0;
    bool scl_ = true;
    bool sda_ = true;
    bool shdn_ = true;
    int badCommands_ = 0;
    int drivenHigh_ = 0;
};

}  // namespace support
