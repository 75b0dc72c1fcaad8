// The gpio backend through its libgpiod seam: which lines it requests and how,
// the order of its sets for each write, how it samples SDA, and its messages.
#include "script/actions.h"
#include "script/json.h"
#include "script/runner.h"
#include "commands/descriptor.h"
#include "ports/factory.h"
#include "ports/gpio_port.h"
#include "refusal.h"
#include "table.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

// Records each call as text; the chip has `lines` lines.
struct FakeGpio final : ports::GpioSystem {
    std::vector<std::string>* calls;
    unsigned lines = 8;
    int openError = 0;
    int requestError = 0;
    std::string holder;
    std::vector<ports::GpioChip> others{{"gpiochip0", "pinctrl-bcm2835", 54}, {"gpiochip1", "cp2112_gpio", 8}};
    int handles = 0;

    explicit FakeGpio(std::vector<std::string>* c) : calls(c) {}

    static std::string list(auto values) {
        std::string text;
        for (auto v : values) text += (text.empty() ? "" : ",") + std::to_string(v);
        return text;
    }
    int open(const std::string& chip, ports::GpioChip& info) override {
        calls->push_back("open " + chip);
        info = {"gpiochip1", "cp2112_gpio", lines};
        return -openError;
    }
    std::vector<ports::GpioChip> chips() override { return others; }
    int request(std::span<const unsigned> offsets, bool openDrain, std::span<const int> values) override {
        calls->push_back("request " + list(offsets) + (openDrain ? " open-drain " : " push-pull ") + list(values));
        return requestError != 0 ? -requestError : handles++;
    }
    int set(int handle, std::span<const int> values) override {
        calls->push_back("set " + std::to_string(handle) + " " + list(values));
        return 0;
    }
    int get(int handle, std::span<int> values) override {
        calls->push_back("get " + std::to_string(handle));
        for (int& v : values) v = 1;
        return 0;
    }
    std::string consumer(unsigned offset) override { return offset == 1 ? holder : ""; }
    void close() override { calls->push_back("close"); }
};

std::unique_ptr<bus::Port> gpioPort(std::vector<std::string>& calls, bool withShdn, FakeGpio** fake = nullptr) {
    ports::GpioWiring wiring{"cp2112_gpio", 0, 1, std::nullopt};
    if (withShdn) wiring.shdn = 2;
    auto system = std::make_unique<FakeGpio>(&calls);
    if (fake != nullptr) *fake = system.get();
    return std::make_unique<bus::LinePort>("gpio", std::make_unique<ports::GpioLines>(wiring, std::move(system)));
}

TEST(Gpio, RequestsSclAndSdaOpenDrainAndShdnPushPullAtTheFirstAccess) {
    std::vector<std::string> calls;
    auto port = gpioPort(calls, true);
    EXPECT_TRUE(calls.empty());
    port->OutportW(0x378, 0xF3);  // the lines are already idle: nothing to set
    EXPECT_EQ(calls, (std::vector<std::string>{"open cp2112_gpio", "request 1,0 open-drain 1,1",
                                                "request 2 push-pull 1"}));
}

struct Writes {
    std::string name;
    std::vector<std::uint16_t> data;  // written to the data register, in order
    std::vector<std::string> sets;    // after the requests
};

class SetOrder : public testing::TestWithParam<Writes> {};

// Each write is one set of SCL and SDA, SCL first; where SCL rises and SDA moves
// at once, SDA goes first on a set of its own.
TEST_P(SetOrder, FollowsEachWrite) {
    std::vector<std::string> calls;
    auto port = gpioPort(calls, true);
    for (auto value : GetParam().data) port->OutportW(0x378, value);
    std::vector<std::string> sets(calls.begin() + 3, calls.end());
    EXPECT_EQ(sets, GetParam().sets);
}

INSTANTIATE_TEST_SUITE_P(
    Gpio, SetOrder,
    testing::Values(
        // A start, bit 1, bit 0: SCL falls with SDA in one set.
        Writes{"start_and_two_bits", {0xF3, 0xF2, 0xF1, 0xF3, 0xF0, 0xF2},
               {"set 0 1,0", "set 0 0,1", "set 0 1,1", "set 0 0,0", "set 0 1,0"}},
        Writes{"a_repeated_level_sets_nothing", {0x13, 0x13, 0x12, 0x12}, {"set 0 1,0"}},
        Writes{"scl_rising_with_sda_splits", {0x10, 0x13}, {"set 0 0,0", "set 0 0,1", "set 0 1,1"}},
        Writes{"shutdown_and_back", {0xAF, 0xF3}, {"set 1 0", "set 1 1"}}),
    testing_support::RowName());

TEST(Gpio, ProgramAsReadBackSamplesSdaByReadingTheBulk) {
    std::vector<std::string> calls;
    auto port = gpioPort(calls, false);
    auto program = commands::kDescriptorA.make(*port);
    program->cmdRead_Click();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "get 0"), 8);
    EXPECT_EQ(program->controls().txtSDA_Data.Text(), "255");
}

struct Failure {
    std::string name;
    std::function<void(FakeGpio&)> arrange;
    std::string message;
};

class GpioErrors : public testing::TestWithParam<Failure> {};

TEST_P(GpioErrors, SayWhatIsWrong) {
    std::vector<std::string> calls;
    FakeGpio* fake = nullptr;
    auto port = gpioPort(calls, false, &fake);
    GetParam().arrange(*fake);
    try {
        port->OutportW(0x378, 0xF2);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gpio, GpioErrors,
    testing::Values(
        Failure{"line_in_use", [](FakeGpio& g) { g.requestError = EBUSY; g.holder = "i2c-gpio"; },
                "gpio cp2112_gpio: line 1 (SCL) of gpiochip1 is in use by i2c-gpio"},
        Failure{"line_out_of_range", [](FakeGpio& g) { g.lines = 1; },
                "gpio cp2112_gpio: line 1 (SCL) is out of range: gpiochip1 has 1 lines, 0..0"},
        Failure{"no_such_chip", [](FakeGpio& g) { g.openError = ENOENT; },
                "gpio cp2112_gpio: no such GPIO chip; chips here: gpiochip0 (pinctrl-bcm2835, 54 lines), gpiochip1 "
                "(cp2112_gpio, 8 lines)"},
        Failure{"no_chips_at_all", [](FakeGpio& g) { g.openError = ENOENT; g.others.clear(); },
                "gpio cp2112_gpio: no such GPIO chip; there are none here"},
        Failure{"permission", [](FakeGpio& g) { g.openError = EACCES; },
                "gpio cp2112_gpio: open: Permission denied (add your user to the group that owns /dev/gpiochipN, then "
                "log in again; or add a udev rule)"}),
    testing_support::RowName());

TEST(Gpio, ShutdownWithoutALineForIt) {
    std::vector<std::string> calls;
    auto port = gpioPort(calls, false);
    try {
        port->OutportW(0x378, 0xAF);
        FAIL() << "no error";
    } catch (const bus::PortError& e) {
        EXPECT_STREQ(e.what(), "gpio cp2112_gpio: cannot drive /SHDN: no line was given for it (shdn=N)");
    }
    EXPECT_TRUE(calls.empty());
}

TEST(Gpio, PortStrings) {
    EXPECT_EQ(ports::openPort("gpio:chip=gpiochip4,sda=17,scl=27,shdn=22,delay=5").label, "gpio gpiochip4");
    for (const auto& [spec, message] : std::vector<std::pair<std::string, std::string>>{
             {"gpio:scl=1", "gpio: sda is required; sda accepts a line number of the chip"},
             {"gpio:sda=0", "gpio: scl is required; scl accepts a line number of the chip"},
             {"gpio:sda=3,scl=3", "gpio: scl=3 is the line sda has; scl accepts a line of its own"},
             {"gpio:sda=3,scl=4,shdn=4", "gpio: shdn=4 is a line sda or scl has; shdn accepts a line of its own"},
             {"gpio:sda=x,scl=1", "gpio: sda=x is not a number; sda accepts a line number of the chip"},
             {"gpio:sda=0,scl=1,speed=9", "gpio: unknown key 'speed'; gpio accepts chip, sda, scl, shdn, delay"}}) {
        EXPECT_EQ(testing_support::refusal([&] { ports::openPort(spec); }), message) << spec;
    }
}

}  // namespace
