// The cp2112 backend: a Silicon Labs CP2112 USB HID to SMBus bridge (10c4:ea90)
// through its HID reports (AN495). Its pins: GPIO Configuration (0x02), Get
// (0x03) and Set (0x04) feature reports, SDA and SCL in the chip's own
// open-drain output mode. Its engine: Data Write (0x14) and Read Request (0x10),
// Transfer Status (0x15/0x16), Force Send (0x12) with its Read Response (0x13),
// Cancel (0x17).
#include "ports/hid_bridge.h"

#include <cerrno>
#include <chrono>

namespace ports {
namespace {

enum : std::uint8_t {
    kGpioConfig = 0x02, kGpioGet = 0x03, kGpioSet = 0x04,
    kReadRequest = 0x10, kReadForceSend = 0x12, kReadResponse = 0x13, kWriteRequest = 0x14,
    kStatusRequest = 0x15, kStatusResponse = 0x16, kCancel = 0x17,
};

// Transfer Status: status 0 and, for an error, status 1.
enum : std::uint8_t { kIdle = 0, kBusy = 1, kComplete = 2, kError = 3 };
enum : std::uint8_t { kTimeoutNack = 0, kBusNotFree = 1, kArbitrationLost = 2 };

// Output reports go out at the chip's 64 bytes.
HidReport report(std::initializer_list<std::uint8_t> bytes) {
    HidReport r(bytes);
    r.resize(64, 0);
    return r;
}

class Cp2112Bridge final : public HidBridge {
public:
    explicit Cp2112Bridge(HidLink& link) : link_(link) {}

    void claimPins(const HidPins& pins) override {
        // Direction (1: output), output mode (1: push-pull), special functions, clock divider.
        const HidReport config = link_.getFeature(kGpioConfig, 5);
        const std::uint8_t special = config[3];
        for (const unsigned pin : {pins.sda, pins.scl, pins.sdaIn, pins.shdn.value_or(pins.sda)}) {
            const char* function = pin == 0 && (special & 0x02) != 0   ? "the TX LED, toggled on each transfer"
                                   : pin == 1 && (special & 0x04) != 0 ? "the RX LED, toggled on each transfer"
                                   : pin == 7 && (special & 0x01) != 0 ? "the clock output"
                                                                       : nullptr;
            if (function != nullptr) {
                link_.fail("GPIO." + std::to_string(pin) + " is set to its special function, " + function +
                               ", in the CP2112's configuration: wire the bus to another pin, or turn the function off "
                               "with Silicon Labs' CP2112 configuration utility",
                           EINVAL);
            }
        }
        const auto bit = [](unsigned pin) { return static_cast<std::uint8_t>(1U << pin); };
        const std::uint8_t outputs = bit(pins.sda) | bit(pins.scl) | (pins.shdn ? bit(*pins.shdn) : 0);
        // Latches high first, so that a pin made an output starts released (or /SHDN high).
        link_.setFeature(report({kGpioSet, 0xFF, outputs}));
        std::uint8_t direction = config[1] | outputs;
        if (pins.sdaIn != pins.sda) direction = static_cast<std::uint8_t>(direction & ~bit(pins.sdaIn));
        std::uint8_t pushPull = static_cast<std::uint8_t>(config[2] & ~(bit(pins.sda) | bit(pins.scl)));
        if (pins.shdn) pushPull |= bit(*pins.shdn);
        if (direction != config[1] || pushPull != config[2]) {
            link_.setFeature(HidReport{kGpioConfig, direction, pushPull, config[3], config[4]});
        }
    }

    void setPins(std::uint8_t mask, std::uint8_t levels) override {
        link_.setFeature(HidReport{kGpioSet, levels, mask});
    }

    std::uint8_t readPins() override { return link_.getFeature(kGpioGet, 2)[1]; }

    // A transfer another program left running is cancelled.
    void claimEngine() override {
        link_.write(report({kStatusRequest, 0x01}));
        if (link_.await(0, kStatusResponse)[1] == kBusy) link_.write(report({kCancel, 0x01}));
    }

    bool write(std::uint8_t address7, const std::uint8_t* data, std::size_t size) override {
        HidReport r = report({kWriteRequest, static_cast<std::uint8_t>(address7 << 1), static_cast<std::uint8_t>(size)});
        std::copy(data, data + size, r.begin() + 3);
        link_.write(r);
        return completed();
    }

    std::optional<std::uint8_t> read(std::uint8_t address7) override {
        link_.write(report({kReadRequest, static_cast<std::uint8_t>(address7 << 1), 0x00, 0x01}));
        if (!completed()) return std::nullopt;
        link_.write(report({kReadForceSend, 0x00, 0x01}));
        const HidReport response = link_.await(0, kReadResponse);
        if (response[2] < 1) link_.fail("the CP2112 read no byte", EIO);
        return response[3];
    }

private:
    // Asks for the transfer's status until it ends; false: not acknowledged.
    bool completed() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (;;) {
            link_.write(report({kStatusRequest, 0x01}));
            const HidReport status = link_.await(0, kStatusResponse);
            if (status[1] == kIdle || status[1] == kComplete) return true;
            if (status[1] == kError) {
                if (status[2] == kTimeoutNack) return false;
                if (status[2] == kBusNotFree) cancel("the bus was not free (is SDA or SCL held low?)");
                link_.fail(status[2] == kArbitrationLost ? "the CP2112 lost arbitration: another master is on the bus"
                                                         : "the CP2112's transfer ended incomplete",
                           EIO);
            }
            if (std::chrono::steady_clock::now() > deadline) cancel("the bus stayed busy for 1 s (is SDA or SCL held low?)");
        }
    }

    [[noreturn]] void cancel(const std::string& why) {
        link_.write(report({kCancel, 0x01}));
        link_.fail(why + ": the transfer was cancelled", EBUSY);
    }

    HidLink& link_;
};

std::unique_ptr<HidBridge> makeBridge(HidLink& link) { return std::make_unique<Cp2112Bridge>(link); }

constexpr Key kCp2112Keys[] = {
    {"dev", "s:SERIAL, an index N or a hidraw path, as `pxctl detect` lists them; may be left out with one attached"},
    {"sda", "a GPIO pin 0..7: with scl, the bus is bit-banged on the pins", "", 0, 7},
    {"scl", "a GPIO pin 0..7", "", 0, 7},
    {"sda_in", "a GPIO pin 0..7 tied to sda (the default: sda's own)", "", 0, 7},
    {"shdn", "a GPIO pin 0..7", "", 0, 7},
    kDelayKey,
};

Opened makeCp2112(const Options& options) { return makeHid(kCp2112Chip, options, kCp2112Keys); }
std::vector<DetectedPort> detectCp2112() { return detectHid(kCp2112Chip); }

}  // namespace

const HidChip kCp2112Chip{"cp2112", "CP2112", 0x10C4, 0xEA90, "GPIO.", "hid-cp2112",
                          "the kernel's i2c and gpio backends reach it (i2c:bus=N, gpio:chip=cp2112_gpio)", makeBridge};

const Backend kCp2112Backend{
    "cp2112", "cp2112[:dev=D][,sda=N,scl=M[,shdn=K][,sda_in=N][,delay=US]]",
    "a Silicon Labs CP2112 USB HID bridge through the system's HID class: with sda= and scl=, its GPIO pins "
    "bit-banged (the exact frames); without, its I2C engine (the frames, not the pins)",
    kCp2112Keys, makeCp2112, false, detectCp2112};

}  // namespace ports
