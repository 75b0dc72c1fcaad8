// The mcp2221 backend: a Microchip MCP2221/MCP2221A USB to I2C bridge
// (04d8:00dd) through its 64-byte HID commands, each answered by one report
// echoing its code. Its pins: Get/Set SRAM Settings (0x61/0x60) to make the
// named pins GPIO, Set/Get GPIO Values (0x50/0x51); its outputs are push-pull,
// so SDA and SCL are driven low as outputs at 0 and released by turning them
// into inputs. Its engine: I2C Write (0x90), Read (0x91), Get Data (0x40) and
// Status/Set Parameters (0x10), which also cancels.
#include "ports/hid_bridge.h"

#include <array>
#include <cerrno>
#include <chrono>

namespace ports {
namespace {

enum : std::uint8_t {
    kStatus = 0x10, kGetData = 0x40, kSetGpio = 0x50, kGetGpio = 0x51, kSetSram = 0x60, kGetSram = 0x61,
    kWrite = 0x90, kRead = 0x91,
};
constexpr std::uint8_t kCancelTransfer = 0x10;  // Status byte 2
constexpr std::uint8_t kSetSpeed = 0x20;        // Status byte 3
constexpr std::uint8_t kDivider100k = 12000000 / 100000 - 3;
constexpr std::uint8_t kAddressNack = 0x25;     // engine states
constexpr std::uint8_t kReadComplete = 0x55;
constexpr std::uint8_t kNotGpio = 0xEE;

// What a pin's designation other than GPIO (bits 2..0 of its settings) makes it.
const char* designation(unsigned pin, unsigned value) {
    static constexpr std::array<std::array<const char*, 5>, 4> kNames{{
        {"GPIO", "SSPND (USB suspend)", "LED_URx (UART receive LED)", nullptr, nullptr},
        {"GPIO", "the clock output", "ADC1", "LED_UTx (UART transmit LED)", "the interrupt input"},
        {"GPIO", "USBCFG (USB configured)", "ADC2", "DAC1", nullptr},
        {"GPIO", "LED_I2C (I2C activity LED)", "ADC3", "DAC2", nullptr},
    }};
    const char* name = value < 5 ? kNames[pin][value] : nullptr;
    return name != nullptr ? name : "a function this program does not know";
}

class Mcp2221Bridge final : public HidBridge {
public:
    explicit Mcp2221Bridge(HidLink& link) : link_(link) {}

    void claimPins(const HidPins& pins) override {
        pins_ = pins;
        const HidReport sram = command({kGetSram});
        std::array<std::uint8_t, 4> settings{};
        for (unsigned p = 0; p < 4; ++p) settings[p] = byte(sram, 22 + p);
        auto wanted = settings;
        for (const unsigned pin : {pins.sda, pins.scl, pins.sdaIn, pins.shdn.value_or(pins.sda)}) {
            if (const unsigned d = settings[pin] & 7U; d != 0) {
                link_.fail("GP" + std::to_string(pin) + " is set to " + designation(pin, d) +
                               " in the MCP2221's settings, not GPIO: wire the bus to another pin, or make it GPIO "
                               "in the chip's flash with Microchip's MCP2221 Utility",
                           EINVAL);
            }
            // An input (bit 3) with its output value 0: released, and driven
            // low the moment it is made an output.
            wanted[pin] = 0x08;
        }
        if (pins.shdn) wanted[*pins.shdn] = 0x10;  // an output at 1
        if (wanted != settings) {
            command({kSetSram, 0, 0, 0, 0, 0, 0, 0x80, wanted[0], wanted[1], wanted[2], wanted[3]});
        }
    }

    void setPins(std::uint8_t mask, std::uint8_t levels) override {
        HidReport c(64, 0);
        c[0] = kSetGpio;
        for (unsigned p = 0; p < 4; ++p) {
            if ((mask & (1U << p)) == 0) continue;
            const std::size_t at = 2 + 4 * p;
            const bool high = (levels & (1U << p)) != 0;
            if (pins_.shdn && p == *pins_.shdn) {
                c[at] = 1;
                c[at + 1] = high ? 1 : 0;
            } else if (high) {
                c[at + 2] = 1;  // an input: released to the pull-up
                c[at + 3] = 1;
            } else {
                c[at] = 1;  // an output at 0
                c[at + 1] = 0;
                c[at + 2] = 1;
                c[at + 3] = 0;
            }
        }
        const HidReport r = command(c);
        for (unsigned p = 0; p < 4; ++p) {
            if ((mask & (1U << p)) != 0 && byte(r, 2 + 4 * p) == kNotGpio) {
                link_.fail("GP" + std::to_string(p) + " is no longer GPIO", EIO);
            }
        }
    }

    std::uint8_t readPins() override {
        const HidReport r = command({kGetGpio});
        std::uint8_t levels = 0;
        for (unsigned p = 0; p < 4; ++p) levels = static_cast<std::uint8_t>(levels | (byte(r, 2 + 2 * p) == 1 ? 1U << p : 0U));
        return levels;
    }

    // A transfer left running is cancelled; then 100 kHz, which the chip takes
    // only while idle.
    void claimEngine() override {
        if (byte(command({kStatus}), 8) != 0) command({kStatus, 0, kCancelTransfer});
        if (byte(command({kStatus, 0, 0, kSetSpeed, kDivider100k}), 3) != kSetSpeed) {
            command({kStatus, 0, kCancelTransfer});
            if (byte(command({kStatus, 0, 0, kSetSpeed, kDivider100k}), 3) != kSetSpeed) {
                link_.fail("the MCP2221's I2C engine stays busy and would not take its speed (is SDA or SCL held low?)", EBUSY);
            }
        }
    }

    bool write(std::uint8_t address7, const std::uint8_t* data, std::size_t size) override {
        HidReport c(64, 0);
        c[0] = kWrite;
        c[1] = static_cast<std::uint8_t>(size);
        c[3] = static_cast<std::uint8_t>(address7 << 1);
        std::copy(data, data + size, c.begin() + 4);
        if (byte(command(c), 1) != 0) cancel("the MCP2221's I2C engine was busy");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (;;) {
            const HidReport s = command({kStatus});
            if ((byte(s, 20) & 0x40) != 0 || byte(s, 8) == kAddressNack) return false;
            if (byte(s, 8) == 0) return true;
            if (std::chrono::steady_clock::now() > deadline) cancel("the bus stayed busy for 1 s (is SDA or SCL held low?)");
        }
    }

    std::optional<std::uint8_t> read(std::uint8_t address7) override {
        if (byte(command({kRead, 1, 0, static_cast<std::uint8_t>((address7 << 1) | 1)}), 1) != 0) {
            cancel("the MCP2221's I2C engine was busy");
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (;;) {
            const HidReport r = command({kGetData});
            if (byte(r, 2) == kAddressNack) return std::nullopt;
            if (byte(r, 1) == 0 && byte(r, 2) == kReadComplete && byte(r, 3) >= 1 && byte(r, 3) != 127) return byte(r, 4);
            if (byte(r, 3) == 127) link_.fail("the MCP2221 could not read the byte", EIO);
            if (std::chrono::steady_clock::now() > deadline) cancel("the read did not complete in 1 s (is SCL held low?)");
        }
    }

private:
    // One command, and the report answering it; byte k of the chip's 64 is report[1 + k].
    HidReport command(HidReport c) {
        c.resize(64, 0);
        c.insert(c.begin(), 0);  // no report numbers
        link_.write(c);
        return link_.await(1, c[1]);
    }
    static std::uint8_t byte(const HidReport& r, std::size_t k) { return r[1 + k]; }

    [[noreturn]] void cancel(const std::string& why) {
        command({kStatus, 0, kCancelTransfer});
        link_.fail(why + ": the transfer was cancelled", EBUSY);
    }

    HidLink& link_;
    HidPins pins_;
};

std::unique_ptr<HidBridge> makeBridge(HidLink& link) { return std::make_unique<Mcp2221Bridge>(link); }

constexpr Key kMcp2221Keys[] = {
    {"dev", "s:SERIAL, an index N or a hidraw path, as `pxctl detect` lists them; may be left out with one attached"},
    {"sda", "a GP pin 0..3: with scl, the bus is bit-banged on the pins", "", 0, 3},
    {"scl", "a GP pin 0..3", "", 0, 3},
    {"sda_in", "a GP pin 0..3 tied to sda (the default: sda's own)", "", 0, 3},
    {"shdn", "a GP pin 0..3", "", 0, 3},
    kDelayKey,
};

Opened makeMcp2221(const Options& options) { return makeHid(kMcp2221Chip, options, kMcp2221Keys); }
std::vector<DetectedPort> detectMcp2221() { return detectHid(kMcp2221Chip); }

}  // namespace

const HidChip kMcp2221Chip{"mcp2221", "MCP2221", 0x04D8, 0x00DD, "GP", "hid-mcp2221",
                           "the kernel's i2c and gpio backends reach it (i2c:bus=N, gpio:chip=mcp2221_gpio)", makeBridge};

const Backend kMcp2221Backend{
    "mcp2221", "mcp2221[:dev=D][,sda=N,scl=M[,shdn=K][,sda_in=N][,delay=US]]",
    "a Microchip MCP2221 or MCP2221A USB HID bridge through the system's HID class: with sda= and scl=, its GP pins "
    "bit-banged (the exact frames); without, its I2C engine (the frames, not the pins)",
    kMcp2221Keys, makeMcp2221, false, detectMcp2221};

}  // namespace ports
