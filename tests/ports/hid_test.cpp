// The cp2112 and mcp2221 backends through a stand-in for the system's HID
// class, with the chips' models behind it: the pins each session moves
// against the board's split of every write, the transactions each engine
// carries against the simulated board's, what each chip is left configured
// as, and what every failure says.
#include "commands/descriptor.h"
#include "hid_models.h"
#include "line_sessions.h"
#include "ports/factory.h"
#include "ports/hid_bridge.h"
#include "refusal.h"
#include "table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using testing_support::portFailure;
using testing_support::run;
using testing_support::Session;
using testing_support::SplitLines;
using testing_support::state;
using testing_support::States;

// One attached chip as the HID class shows it: every call reaches the model,
// until `reportsLeft` runs out (the chip unplugged).
struct ModelDevice final : platform::hid::Device {
    models::HidModel& model;
    int& reportsLeft;
    ModelDevice(models::HidModel& m, int& left) : model(m), reportsLeft(left) {}
    bool gone() { return reportsLeft >= 0 && reportsLeft-- == 0; }
    int getFeature(std::uint8_t* data, std::size_t size) override {
        if (gone()) return -ENODEV;
        const auto r = model.getFeature(data[0]);
        if (r.empty()) return -EIO;
        const std::size_t n = std::min(size, r.size());
        std::memcpy(data, r.data(), n);
        return static_cast<int>(n);
    }
    int setFeature(const std::uint8_t* data, std::size_t size) override {
        if (gone()) return -ENODEV;
        model.setFeature(data, size);
        return static_cast<int>(size);
    }
    int write(const std::uint8_t* data, std::size_t size) override {
        if (gone()) return -ENODEV;
        model.output(data, size);
        return static_cast<int>(size);
    }
    int read(std::uint8_t* data, std::size_t size, int) override {
        if (model.inputs.empty()) return 0;
        const auto r = model.inputs.front();
        model.inputs.pop_front();
        const std::size_t n = std::min(size, r.size());
        std::memcpy(data, r.data(), n);
        return static_cast<int>(n);
    }
};

struct FakeHid final : ports::HidSystem {
    struct Attached {
        platform::hid::DeviceInfo info;
        models::HidModel* model;
    };
    std::vector<Attached> attached;
    int openError = 0;
    int reportsLeft = -1;
    std::vector<platform::hid::DeviceInfo> devices(std::uint16_t vendor, std::uint16_t product) override {
        std::vector<platform::hid::DeviceInfo> found;
        for (const auto& a : attached) {
            if (a.info.vendor == vendor && a.info.product == product) found.push_back(a.info);
        }
        return found;
    }
    platform::hid::Opened open(const std::string& path) override {
        if (openError != 0) return {nullptr, openError, std::strerror(openError)};
        for (const auto& a : attached) {
            if (a.info.path == path) return {std::make_unique<ModelDevice>(*a.model, reportsLeft), 0, {}};
        }
        return {nullptr, ENOENT, std::strerror(ENOENT)};
    }
};

platform::hid::DeviceInfo hidInfo(const ports::HidChip& chip, int n, std::string serial = "0001") {
    return {"/dev/hidraw" + std::to_string(n), chip.vendor, chip.product, std::move(serial),
            std::string(chip.chip) + " emulated", "hid-generic", "hidraw" + std::to_string(n)};
}

// A chip's model on its backend, and the levels its GPIO bus went through.
struct Bench {
    models::Cp2112Model cp2112;
    models::Mcp2221Model mcp2221;
    States states;
    FakeHid* hid = nullptr;
    std::unique_ptr<bus::Port> port;
    const ports::HidChip& chip;

    Bench(const ports::HidChip& c, std::optional<ports::HidPins> pins, std::uint8_t address = 0x2c)
        : cp2112(address), mcp2221(address), chip(c) {
        auto system = std::make_unique<FakeHid>();
        hid = system.get();
        system->attached.push_back({hidInfo(chip, 0), &model()});
        model().onPins = [this](bus::LineLevels l) { states.push_back(state(l.scl(), l.sda(), l.shdn())); };
        auto lines = std::make_unique<ports::HidLines>(chip, "", pins, std::move(system));
        port = std::make_unique<bus::LinePort>(lines->label(), std::move(lines));
    }
    models::HidModel& model() { return &chip == &ports::kCp2112Chip ? static_cast<models::HidModel&>(cp2112) : mcp2221; }
};

const ports::HidPins kPins{0, 1, 0, 2};

struct SessionRow {
    std::string name;
    const ports::HidChip* chip;
    const commands::Descriptor* program;
    std::string words;
};

const std::string kSessionB = "set 1 77 set 2 200 read shdn code1=5 mid";
const std::string kSessionA = "set 1 77 mid ch2 full get";

class PinSessions : public testing::TestWithParam<SessionRow> {};

TEST_P(PinSessions, PinsFollowTheSplitRuleAndReadsMatchTheBoard) {
    const SessionRow& row = GetParam();
    Bench bench(*row.chip, kPins);
    States expected;
    bus::LinePort reference("split", std::make_unique<SplitLines>(&expected));
    const Session got = run(*bench.port, *row.program, row.words);
    const Session want = run(reference, *row.program, row.words);
    ASSERT_TRUE(got.errors.empty()) << got.errors.front();
    EXPECT_EQ(got.reads, want.reads);
    EXPECT_EQ(bench.states, expected);
    EXPECT_TRUE(bench.model().engineLog.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Hid, PinSessions,
    testing::Values(SessionRow{"cp2112_b", &ports::kCp2112Chip, &commands::kDescriptorB, kSessionB},
                    SessionRow{"cp2112_a", &ports::kCp2112Chip, &commands::kDescriptorA, kSessionA},
                    SessionRow{"mcp2221_b", &ports::kMcp2221Chip, &commands::kDescriptorB, kSessionB},
                    SessionRow{"mcp2221_a", &ports::kMcp2221Chip, &commands::kDescriptorA, kSessionA},
                    SessionRow{"mcp2221_bits_and_recover", &ports::kMcp2221Chip, &commands::kDescriptorB,
                               "bit:3=1 run recover get"}),
    testing_support::RowName());

// The transactions a device saw, as "w 58 00 4d" and "r 59".
std::vector<std::string> seen(const sim::Device& device) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < device.transactionCount(); ++i) {
        const auto& t = device.transaction(i);
        char text[8];
        std::snprintf(text, sizeof text, "%c %02x", t.read ? 'r' : 'w', t.address);
        std::string line = text;
        for (std::size_t b = 0; !t.read && b < t.kept(); ++b) {
            std::snprintf(text, sizeof text, " %02x", t.bytes[b]);
            line += text;
        }
        lines.push_back(line);
    }
    return lines;
}

class EngineSessions : public testing::TestWithParam<SessionRow> {};

TEST_P(EngineSessions, TransactionsAndReadsMatchTheBoard) {
    const SessionRow& row = GetParam();
    const std::string words = row.words == kSessionB ? "set 1 77 set 2 200 read code1=5 mid" : row.words;
    Bench bench(*row.chip, std::nullopt);
    sim::Board board;
    const Session got = run(*bench.port, *row.program, words);
    const Session want = run(board, *row.program, words);
    ASSERT_TRUE(got.errors.empty()) << got.errors.front();
    EXPECT_EQ(got.reads, want.reads);
    EXPECT_EQ(seen(bench.model().engineDevice()), seen(board.device()));
    EXPECT_EQ(bench.model().engineDevice().wiper(1), board.wiper(1));
    EXPECT_EQ(bench.model().engineDevice().wiper(2), board.wiper(2));
    EXPECT_TRUE(bench.states.empty()) << "a pin moved";
}

INSTANTIATE_TEST_SUITE_P(
    Hid, EngineSessions,
    testing::Values(SessionRow{"cp2112_b", &ports::kCp2112Chip, &commands::kDescriptorB, kSessionB},
                    SessionRow{"cp2112_a", &ports::kCp2112Chip, &commands::kDescriptorA, kSessionA},
                    SessionRow{"mcp2221_b", &ports::kMcp2221Chip, &commands::kDescriptorB, kSessionB},
                    SessionRow{"mcp2221_a", &ports::kMcp2221Chip, &commands::kDescriptorA, kSessionA}),
    testing_support::RowName());

// Only the named pins change: on the CP2112 SDA and SCL open-drain outputs and
// /SHDN push-pull; on the MCP2221 SDA and SCL released inputs and /SHDN an
// output at 1, GP3's LED function kept.
TEST(Hid, ClaimingThePinsLeavesTheOthersAsTheyWere) {
    Bench cp(ports::kCp2112Chip, kPins);
    cp.cp2112.direction = 0x80;
    cp.cp2112.pushPull = 0xC0;
    cp.port->OutportW(0x378, 0xF3);
    EXPECT_EQ(cp.cp2112.direction, 0x87);
    EXPECT_EQ(cp.cp2112.pushPull, 0xC4);
    EXPECT_EQ(cp.cp2112.latch & 0x07, 0x07);
    Bench mcp(ports::kMcp2221Chip, kPins);
    mcp.mcp2221.gpSettings[3] = 0x01;
    mcp.port->OutportW(0x378, 0xF3);
    EXPECT_EQ(mcp.mcp2221.gpSettings, (std::array<std::uint8_t, 4>{0x08, 0x08, 0x10, 0x01}));
}

struct FailureRow {
    std::string name;
    const ports::HidChip* chip;
    bool pins;
    std::function<void(Bench&)> arrange;
    std::string words;
    std::string error;
};

class Failures : public testing::TestWithParam<FailureRow> {};

TEST_P(Failures, SayWhatIsWrongAndWhatReachedTheBus) {
    const FailureRow& row = GetParam();
    Bench bench(*row.chip, row.pins ? std::optional<ports::HidPins>(kPins) : std::nullopt);
    row.arrange(bench);
    const Session s = run(*bench.port, commands::kDescriptorB, row.words, row.pins);
    ASSERT_EQ(s.errors.size(), 1U);
    EXPECT_EQ(s.errors[0], row.error);
}

const auto kNothing = [](Bench&) {};

INSTANTIATE_TEST_SUITE_P(
    Hid, Failures,
    testing::Values(
        FailureRow{"none_attached_names_what_is", &ports::kCp2112Chip, false,
                   [](Bench& b) {
                       b.hid->attached[0].info = hidInfo(ports::kMcp2221Chip, 3, "");
                       b.hid->attached[0].model = &b.mcp2221;
                   },
                   "get", "get: not sent: cp2112: no CP2112 (10c4:ea90) is attached; attached: MCP2221 on hidraw3 \"MCP2221 emulated\""},
        FailureRow{"several_attached", &ports::kMcp2221Chip, false,
                   [](Bench& b) { b.hid->attached.push_back({hidInfo(ports::kMcp2221Chip, 1, "0002"), &b.mcp2221}); },
                   "get", "get: not sent: mcp2221: 2 MCP2221s are attached: name one with dev=s:SERIAL, dev=N or dev=PATH "
                          "(0: MCP2221 on hidraw0 serial 0001 \"MCP2221 emulated\", 1: MCP2221 on hidraw1 serial 0002 \"MCP2221 emulated\")"},
        FailureRow{"held_by_the_kernel", &ports::kMcp2221Chip, false,
                   [](Bench& b) {
                       b.hid->attached[0].info.path.clear();
                       b.hid->attached[0].info.driver = "mcp2221";
                       b.hid->attached[0].info.node = "0003:04D8:00DD.0001";
                   },
                   "get", "get: not sent: mcp2221: the MCP2221 on 0003:04D8:00DD.0001 serial 0001 \"MCP2221 emulated\" is "
                          "held by the kernel's mcp2221 driver, which gives it no hidraw node: the kernel's i2c and gpio "
                          "backends reach it (i2c:bus=N, gpio:chip=mcp2221_gpio); or, for this backend, unbind it (echo "
                          "0003:04D8:00DD.0001 > /sys/bus/hid/drivers/mcp2221/unbind), keep the driver off (rmmod "
                          "hid-mcp2221) and plug the chip in again"},
        FailureRow{"no_permission", &ports::kCp2112Chip, true, [](Bench& b) { b.hid->openError = EACCES; },
                   "get", "get: not sent: cp2112: open /dev/hidraw0 (CP2112 on hidraw0): Permission denied (" +
                              platform::hid::accessFix() + ")"},
        FailureRow{"special_function_cp2112", &ports::kCp2112Chip, true, [](Bench& b) { b.cp2112.special = 0x02; },
                   "get", "get: not sent: cp2112: GPIO.0 is set to its special function, the TX LED, toggled on each "
                          "transfer, in the CP2112's configuration: wire the bus to another pin, or turn the function off "
                          "with Silicon Labs' CP2112 configuration utility"},
        FailureRow{"special_function_mcp2221", &ports::kMcp2221Chip, true, [](Bench& b) { b.mcp2221.gpSettings[1] = 0x02; },
                   "get", "get: not sent: mcp2221: GP1 is set to ADC1 in the MCP2221's settings, not GPIO: wire the bus to "
                          "another pin, or make it GPIO in the chip's flash with Microchip's MCP2221 Utility"},
        FailureRow{"unplugged_mid_frame", &ports::kCp2112Chip, true, [](Bench& b) { b.hid->reportsLeft = 12; },
                   "set 1 5", "set 1 5: cut short after 7 of 59 writes: cp2112: set feature report: No such device "
                              "(was the CP2112 unplugged?)"},
        FailureRow{"unplugged_engine", &ports::kMcp2221Chip, false, [](Bench& b) { b.hid->reportsLeft = 2; },
                   "set 1 5", "set 1 5: not sent: mcp2221: write: No such device (was the MCP2221 unplugged?)"},
        FailureRow{"nobody_at_the_address_engine", &ports::kCp2112Chip, false, [](Bench& b) { b.cp2112 = models::Cp2112Model(0x2d); },
                   "set 1 5", "set 1 5: not sent: cp2112: no device answered at 0x2c"},
        FailureRow{"nobody_at_the_address_pins", &ports::kMcp2221Chip, true, [](Bench& b) { b.mcp2221 = models::Mcp2221Model(0x2d); },
                   "set 1 5", "set 1 5: cut short after 23 of 59 writes: no device answered at 0x2c"},
        FailureRow{"bus_not_free_cancelled", &ports::kCp2112Chip, false, [](Bench& b) { b.cp2112.busNotFree = true; },
                   "set 1 5", "set 1 5: not sent: cp2112: the bus was not free (is SDA or SCL held low?): the transfer "
                              "was cancelled"},
        FailureRow{"engine_busy_cancelled", &ports::kMcp2221Chip, false, [](Bench& b) { b.mcp2221.busyAfter = 2; },
                   "set 1 5", "set 1 5: not sent: mcp2221: the MCP2221's I2C engine was busy: the transfer was cancelled"},
        FailureRow{"shutdown_on_the_engine", &ports::kCp2112Chip, false, kNothing, "shdn",
                   "shdn: not sent: cp2112: cannot drive /SHDN: the CP2112's I2C engine carries whole transactions and "
                   "has no /SHDN line (give its pins, sda=, scl= and shdn=, to bit-bang the bus with one)"}),
    testing_support::RowName());

TEST(Hid, ChoosingTheDevice) {
    struct Row {
        std::string dev;
        std::string error;  // "" where the second chip is reached
    };
    for (const Row& row : {Row{"s:0002", ""}, Row{"1", ""}, Row{"/dev/hidraw1", ""}, Row{"hidraw1", ""},
                           Row{"s:0003", "cp2112 s:0003: no CP2112 matches dev=s:0003; CP2112s here: 0: CP2112 on "
                                         "hidraw0 serial 0001 \"CP2112 emulated\", 1: CP2112 on hidraw1 serial 0002 "
                                         "\"CP2112 emulated\""}}) {
        models::Cp2112Model first, second;
        auto system = std::make_unique<FakeHid>();
        system->attached = {{hidInfo(ports::kCp2112Chip, 0, "0001"), &first}, {hidInfo(ports::kCp2112Chip, 1, "0002"), &second}};
        bus::LinePort port("cp2112", std::make_unique<ports::HidLines>(ports::kCp2112Chip, row.dev, std::nullopt, std::move(system)));
        const std::string failure = portFailure([&] { run(port, commands::kDescriptorB, "set 1 9"); port.InportW(0x379); });
        if (row.error.empty()) {
            EXPECT_EQ(second.engineDevice().wiper(1), 9) << row.dev;
            EXPECT_EQ(first.engineLog.size(), 0U) << row.dev;
        } else {
            EXPECT_EQ(failure, row.error) << row.dev;
        }
    }
}

TEST(Hid, PortStrings) {
    EXPECT_EQ(ports::openPort("cp2112:dev=s:0001,sda=0,scl=1,shdn=2,sda_in=3,delay=5").label, "cp2112 s:0001");
    EXPECT_TRUE(ports::openPort("mcp2221").carriesTransactions);
    EXPECT_FALSE(ports::openPort("mcp2221:sda=0,scl=1").carriesTransactions);
    for (const auto& [spec, message] : std::vector<std::pair<std::string, std::string>>{
             {"mcp2221:sda=4,scl=1", "mcp2221: sda=4 is out of range; sda accepts a GP pin 0..3: with scl, the bus is "
                                     "bit-banged on the pins"},
             {"cp2112:sda=0", "cp2112: scl is required with sda; scl accepts the GPIO pin wired to SCL"},
             {"cp2112:sda=1,scl=1", "cp2112: scl=1 is the pin sda has; scl accepts a pin of its own"},
             {"cp2112:sda=0,scl=1,shdn=1", "cp2112: shdn=1 is a pin sda, scl or sda_in has; shdn accepts a pin of its own"},
             {"cp2112:shdn=2", "cp2112: shdn=2 needs the bus on the pins; shdn accepts a pin, with sda= and scl= (without "
                               "them, the CP2112's I2C engine carries the frames)"},
             {"mcp2221:delay=5", "mcp2221: delay=5 is for the pins only: the MCP2221's I2C engine times the bus "
                                 "itself; delay accepts microseconds, with sda= and scl= given"}}) {
        EXPECT_EQ(testing_support::refusal([&] { ports::openPort(spec); }), message) << spec;
    }
}

}  // namespace
