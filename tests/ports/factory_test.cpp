// Port strings: which backend each opens, and the one-line message for each
// malformed one.
#include "commands/descriptor.h"
#include "ports/factory.h"
#include "backend_names.h"
#include "refusal.h"
#include "script/actions.h"
#include "script/executor.h"
#include "sim/board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct GoodCase {
    std::string spec;
    const ports::Backend* backend;
};

class GoodPortStrings : public testing::TestWithParam<GoodCase> {};

TEST_P(GoodPortStrings, OpenTheirBackendWithoutTouchingADevice) {
    auto opened = ports::openPort(GetParam().spec);
    ASSERT_NE(opened.port, nullptr);
    EXPECT_EQ(opened.backend, GetParam().backend);
}

INSTANTIATE_TEST_SUITE_P(Factory, GoodPortStrings,
                         testing::Values(GoodCase{"sim", &ports::kSimBackend},
                                         GoodCase{"sim:device=none", &ports::kSimBackend},
                                         GoodCase{"ppdev", &ports::kPpdevBackend},
                                         // A device that does not exist: nothing is opened yet.
                                         GoodCase{"ppdev:dev=/dev/parport9,delay=10", &ports::kPpdevBackend},
                                         GoodCase{"io", &ports::kIoBackend},
                                         GoodCase{"io:base=0x278", &ports::kIoBackend},
                                         GoodCase{"io:base=0xfffc,delay=0", &ports::kIoBackend},
                                         GoodCase{"io:base=956", &ports::kIoBackend},
                                         GoodCase{"lib:path=/opt/my ports/libntport.so", &ports::kLibBackend}));

TEST(Factory, SimDeviceNoneHasNothingAnswering) {
    auto port = std::move(ports::openPort("sim:device=none").port);
    EXPECT_EQ(port->InportW(0x379) & 0x08, 0x08);
    port->OutportW(0x378, 0x13);
    EXPECT_EQ(dynamic_cast<sim::Board&>(*port).totalTransactions(), 0U);
}

struct BadCase {
    std::string name;
    std::string spec;
    std::string message;
};

class BadPortStrings : public testing::TestWithParam<BadCase> {};

TEST_P(BadPortStrings, SayWhatIsWrongInOneLine) {
    try {
        ports::openPort(GetParam().spec);
        FAIL() << "accepted " << GetParam().spec;
    } catch (const ports::ConfigError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
        EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Factory, BadPortStrings,
    testing::Values(
        BadCase{"empty", "", "empty port string; valid backends: " + testing_support::validBackends()},
        BadCase{"unknown_backend", "parport", "unknown port backend 'parport'; valid backends: " + testing_support::validBackends()},
        BadCase{"unknown_key", "ppdev:base=0x378", "ppdev: unknown key 'base'; ppdev accepts dev, delay"},
        BadCase{"sim_takes_no_delay", "sim:delay=5", "sim: the simulated board has no clock of its own; delay= does not "
                                                     "apply; sim accepts device, stuck, nack, address, state"},
        BadCase{"sim_unknown_device", "sim:device=ad5252", "sim: device=ad5252 is not known; device accepts px7702, none"},
        BadCase{"not_key_value", "ppdev:/dev/parport0", "ppdev: '/dev/parport0' is not key=value"},
        BadCase{"key_twice", "io:base=0x378,base=0x278", "io: base is given twice"},
        BadCase{"base_too_high", "io:base=0x10000", "io: base=0x10000 is out of range; base accepts 0x100..0xfffc, a multiple of 4"},
        BadCase{"base_too_low", "io:base=0xfc", "io: base=0xfc is out of range; base accepts 0x100..0xfffc, a multiple of 4"},
        BadCase{"base_not_multiple_of_4", "io:base=0x37a",
                "io: base=0x37a is not a multiple of 4; base accepts 0x100..0xfffc, a multiple of 4"},
        BadCase{"base_not_a_number", "io:base=0x37g",
                "io: base=0x37g is not a number; base accepts 0x100..0xfffc, a multiple of 4"},
        BadCase{"base_empty", "io:base=", "io: base= is not a number; base accepts 0x100..0xfffc, a multiple of 4"},
        BadCase{"lib_base_not_multiple_of_4", "lib:path=x.so,base=0x37a",
                "lib: base=0x37a is not a multiple of 4; base accepts 0x100..0xfffc, a multiple of 4: the card's data "
                "register (status at base + 1)"},
        BadCase{"lib_base_too_low", "lib:path=x.so,base=0x78",
                "lib: base=0x78 is out of range; base accepts 0x100..0xfffc, a multiple of 4: the card's data register "
                "(status at base + 1)"},
        BadCase{"delay_negative", "ppdev:delay=-1", "ppdev: delay=-1 is not a number; delay accepts microseconds 0..1000000"},
        BadCase{"delay_text", "io:delay=abc", "io: delay=abc is not a number; delay accepts microseconds 0..1000000"},
        BadCase{"delay_too_long", "lib:path=x.so,delay=1000001",
                "lib: delay=1000001 is out of range; delay accepts microseconds 0..1000000"},
        BadCase{"delay_overflow", "ppdev:delay=99999999999999999999999",
                "ppdev: delay=99999999999999999999999 is out of range; delay accepts microseconds 0..1000000"},
        BadCase{"lib_without_path", "lib",
                "lib: path is required; path accepts a port library exporting OutportW and InportW or Out32 and "
                "Inp32 (a name alone is the file in the current folder)"},
        // Found by fuzzing: raw control bytes in a message made it empty or broke the line.
        BadCase{"control_bytes_are_escaped", std::string("\0:a\nb", 5), "\\x00: 'a\\x0ab' is not key=value"},
        BadCase{"ppdev_empty_dev", "ppdev:dev=", "ppdev: dev= is empty; dev accepts a device path such as /dev/parport0"}),
    [](const testing::TestParamInfo<BadCase>& row) { return row.param.name; });

// Every build has every row: a backend it leaves out says why, by its name.
TEST(Factory, TheTableHasEveryBackendAndSaysWhyOneIsMissing) {
    std::string names;
    for (const ports::Backend* backend : ports::backendTable()) {
        names += std::string(backend->name) + " ";
        SCOPED_TRACE(backend->name);
        if (backend->available()) {
            EXPECT_EQ(backend->usage.substr(0, backend->name.size()), backend->name);
            EXPECT_FALSE(backend->description.empty());
            EXPECT_NE(backend->make, nullptr);
            continue;
        }
        EXPECT_EQ(backend->missing.substr(0, backend->name.size() + 1), std::string(backend->name) + " ");
        try {
            ports::openPort(std::string(backend->name) + ":dev=x");
            ADD_FAILURE() << "opened";
        } catch (const ports::ConfigError& e) {
            EXPECT_EQ(e.what(), std::string(backend->missing) + "; this build has " + testing_support::validBackends());
        }
    }
    EXPECT_EQ(names, "sim ppdev io i2c gpio ftdi cp2112 mcp2221 lib ");
}

}  // namespace

namespace {

// What the window's title says after the caption, for each backend.
TEST(Factory, PortLabelsNameTheBackendAndItsDevice) {
    for (const auto& [spec, label] : std::vector<std::pair<std::string, std::string>>{
             {"sim", "sim"},
             {"sim:device=none", "sim (no device)"},
             {"ppdev", "ppdev /dev/parport0"},
             {"ppdev:dev=/dev/parport1,delay=20", "ppdev /dev/parport1"},
             {"io", "io 0x378"},
             {"io:base=0xd010", "io 0xd010"},
             {"lib:path=/opt/port.so", "lib /opt/port.so"},
             {"i2c:bus=2", "i2c /dev/i2c-2"}}) {
        EXPECT_EQ(ports::openPort(spec).label, label) << spec;
    }
}

}  // namespace

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One pxctl run: a program on a freshly opened port, the actions, the port closed.
std::vector<int> runOnce(const std::string& spec, const std::string& words) {
    auto opened = ports::openPort(spec);
    auto program = commands::kDescriptorB.make(*opened.port);
    script::Executor executor(*program);
    std::vector<int> reads;
    for (const auto& action : script::parseActions(script::splitWords(words), commands::kDescriptorB)) {
        if (const auto result = executor.execute(action); result.read) reads.push_back(*result.read);
    }
    return reads;
}

TEST(SimState, KeepsTheBoardBetweenRunsAndOnlyWithAFile) {
    const std::string file = testing::TempDir() + "sim_state_kept";
    std::remove(file.c_str());
    runOnce("sim:state=" + file, "set 1 200 set 2 7 shdn");
    EXPECT_EQ(fileText(file), "px77xx-sim-state 1\nwiper1 200\nwiper2 7\nchannel 2\nshutdown 1\n");
    EXPECT_EQ(runOnce("sim:state=" + file, "get"), std::vector<int>{7});  // channel 2 still selected
    EXPECT_EQ(runOnce("sim:state=" + file, "set 1 9 get"), std::vector<int>{9});
    EXPECT_EQ(fileText(file), "px77xx-sim-state 1\nwiper1 9\nwiper2 7\nchannel 1\nshutdown 0\n");
    EXPECT_EQ(runOnce("sim", "get"), std::vector<int>{128});  // without it, a fresh board
}

TEST(SimState, RefusesAFileNotItsOwnAndLeavesIt) {
    const std::string file = testing::TempDir() + "sim_state_refused";
    for (const auto& [content, message] : std::vector<std::pair<std::string, std::string>>{
             {"#!/bin/sh\nrm -rf /\n", ": not a simulated board's state file; it is left as it is: name another file"},
             {"px77xx-sim-state 1\nwiper1 200\n", ": damaged (a simulated board's state, but not whole); it is left "
                                                   "as it is: remove it to start a fresh board"},
             {"px77xx-sim-state 1\nwiper1 300\nwiper2 7\nchannel 2\nshutdown 1\n",
              ": damaged (a simulated board's state, but not whole); it is left as it is: remove it to start a fresh "
              "board"}}) {
        std::ofstream(file) << content;
        EXPECT_EQ(testing_support::refusal([&] { ports::openPort("sim:state=" + file); }),
                  "sim: state=" + file + message);
        EXPECT_EQ(fileText(file), content);
    }
}

}  // namespace
