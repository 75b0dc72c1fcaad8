// USB HID bridges (Silicon Labs CP2112, Microchip MCP2221) as the bus, through
// the system's own HID class: no driver to install on Windows or Linux. Each
// works in one of two modes, chosen by the wiring the user gives:
//   pins given: the frames are bit-banged on the chip's GPIO pins, every line
//     change one report, in the order the board reads it: the exact frames;
//   no pins: the chip's own I2C engine carries each transaction whole, as the
//     i2c backend does through the kernel.
// What the two chips share lives here; each chip's reports in its own file.
#pragma once

#include "bus/line_port.h"
#include "bus/transaction_lines.h"
#include "platform/hid.h"
#include "ports/backend.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ports {

// The calls a HID backend makes of the system, so that tests can stand in for
// the chips.
class HidSystem {
public:
    virtual ~HidSystem() = default;
    virtual std::vector<platform::hid::DeviceInfo> devices(std::uint16_t vendor, std::uint16_t product) {
        return platform::hid::devices(vendor, product);
    }
    virtual platform::hid::Opened open(const std::string& path) { return platform::hid::open(path); }
};

// Where the bus is wired, by the chip's GPIO numbers.
struct HidPins {
    unsigned sda = 0;
    unsigned scl = 1;
    unsigned sdaIn = 0;  // sda's own pin, or one tied to it
    std::optional<unsigned> shdn;
};

using HidReport = std::vector<std::uint8_t>;

// An open bridge, for a chip's protocol: each call fails with a PortError that
// names the chip and where it is.
class HidLink {
public:
    HidLink(std::string label, std::string chip, std::unique_ptr<platform::hid::Device> device, bool heldBack)
        : label_(std::move(label)), chip_(std::move(chip)), device_(std::move(device)), heldBack_(heldBack) {}

    HidReport getFeature(std::uint8_t number, std::size_t size);
    void setFeature(const HidReport& report);
    void write(const HidReport& report);
    // The next input report whose byte at `at` is `code`, others skipped;
    // fails after a second without one.
    HidReport await(std::size_t at, std::uint8_t code);

    [[noreturn]] void fail(const std::string& what, int code = 0) const;
    // The device failed or went away: the next access opens it again.
    bool broken() const { return broken_; }

private:
    [[noreturn]] void lost(const char* operation, int error) const;

    std::string label_;
    std::string chip_;
    std::unique_ptr<platform::hid::Device> device_;
    bool heldBack_;
    mutable bool broken_ = false;
};

// A chip's protocol over its link: its pins, or its I2C engine.
class HidBridge {
public:
    virtual ~HidBridge() = default;
    // Makes the named pins GPIO as the bus needs them (SDA and SCL released,
    // /SHDN high), leaving every other pin as it was.
    virtual void claimPins(const HidPins& pins) = 0;
    // Pins in mask to their level in levels (1: released, or /SHDN high).
    virtual void setPins(std::uint8_t mask, std::uint8_t levels) = 0;
    virtual std::uint8_t readPins() = 0;
    // Readies the engine: a transfer left running is cancelled, and named.
    virtual void claimEngine() = 0;
    // false: nobody acknowledged.
    virtual bool write(std::uint8_t address7, const std::uint8_t* data, std::size_t size) = 0;
    virtual std::optional<std::uint8_t> read(std::uint8_t address7) = 0;
};

// One kind of bridge.
struct HidChip {
    std::string_view name;  // the backend: "cp2112"
    std::string_view chip;  // "CP2112"
    std::uint16_t vendor;
    std::uint16_t product;
    std::string_view pinName;      // as the data sheet writes one: "GPIO.", "GP"
    std::string_view linuxDriver;  // the kernel's own driver for it: "hid-cp2112"
    std::string_view kernelWay;    // what reaches the chip through that driver
    std::unique_ptr<HidBridge> (*bridge)(HidLink& link);
};

class HidLines final : public bus::LineBackend, private bus::TransactionCarrier {
public:
    HidLines(const HidChip& chip, std::string selector, std::optional<HidPins> pins,
             std::unique_ptr<HidSystem> system = std::make_unique<HidSystem>());

    void drive(bus::LineLevels levels) override;
    bool sampleSda() override;

    std::string label() const;
    std::optional<PortDetails> details() const;

private:
    void claim();
    void set(unsigned pin, bool level);
    void send(const bus::Transaction& t) override;
    std::uint8_t fetch(std::uint8_t address7) override;
    [[noreturn]] void fail(const std::string& what, int code) const;

    const HidChip& chip_;
    std::string selector_;
    std::optional<HidPins> pins_;
    std::unique_ptr<HidSystem> system_;
    std::unique_ptr<HidLink> link_;
    std::unique_ptr<HidBridge> bridge_;
    std::string where_;  // the device claimed, for messages: "hidraw0 (serial 0001)"
    bool scl_ = true, sda_ = true, shdn_ = true;
    bus::TransactionLines engine_{*this};
};

// The two chips, for detect's list of what is attached.
extern const HidChip kCp2112Chip;
extern const HidChip kMcp2221Chip;

// What the two entries share: their keys' meaning, make and detect.
Opened makeHid(const HidChip& chip, const Options& options, std::span<const Key> keys);
std::vector<DetectedPort> detectHid(const HidChip& chip);

}  // namespace ports
