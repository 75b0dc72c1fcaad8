// The bus checker on the programs' own sequences and on broken ones.
#include "buscheck/checker.h"
#include "tap_port.h"
#include "commands/program.h"
#include "sim/board.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using testing_support::TapPort;

std::vector<std::string> described(const buscheck::Checker& checker) {
    std::vector<std::string> text;
    for (const auto& event : checker.events()) text.push_back(buscheck::describe(event));
    return text;
}

using Lines = std::vector<std::string>;

struct Rig {
    sim::Board board;
    TapPort port{board};
};

TEST(Checker, ProgramBIsCleanAndDecodesItsFramesAndRead) {
    Rig rig;
    commands::ProgramB b(rig.port);
    const std::vector<std::pair<std::function<void()>, Lines>> actions{
        {[&] { b.controls().vsbInputCode1.setValue(200); },
         {"start", "address write 0x2c", "ack", "data 0x00", "ack", "data 0xc8", "ack", "stop"}},
        {[&] { b.cmdRead_Click(); },
         {"start", "address write 0x2c", "ack", "data 0x00", "ack", "data 0xc8", "ack", "stop", "start",
          "address read 0x2c", "ack", "data 0xc8", "ack", "stop"}},
        {[&] { b.cmdSHDN_Click(); }, {}},
        {[&] { b.cmdCh2_Click(); }, {}},
        {[&] { b.cmdMS_Click(); },
         {"start", "address write 0x2c", "ack", "data 0x80", "ack", "data 0x80", "ack", "stop", "start",
          "address write 0x2c", "ack", "data 0x80", "ack", "data 0x80", "ack", "stop"}},
    };
    for (const auto& [act, expected] : actions) {
        rig.port.checker.clear();
        act();
        rig.port.checker.finish();
        EXPECT_EQ(described(rig.port.checker), expected);
        EXPECT_TRUE(rig.port.checker.findings().empty()) << rig.port.checker.findings().front().text;
    }
}

TEST(Checker, EachProgramAFrameHasExactlyOneFindingItsMissingNinthClock) {
    const std::vector<std::pair<std::string, std::function<void(commands::ProgramA&)>>> actions{
        {"even code", [](auto& a) { a.controls().vsbInputCode1.setValue(200); }},
        {"odd code", [](auto& a) { a.controls().vsbInputCode2.setValue(201); }},
        {"preset writing twice", [](auto& a) { a.cmdFS_Click(); }},
        {"run", [](auto& a) { a.cmdRun_Click(); }},
    };
    for (const auto& [name, act] : actions) {
        Rig rig;
        commands::ProgramA a(rig.port);
        act(a);
        rig.port.checker.finish();
        int frames = 0;
        for (const auto& event : rig.port.checker.events()) {
            frames += event.kind == buscheck::EventKind::Address && !event.read ? 1 : 0;
        }
        ASSERT_GT(frames, 0) << name;
        ASSERT_EQ(rig.port.checker.findings().size(), static_cast<std::size_t>(frames)) << name;
        for (const auto& finding : rig.port.checker.findings()) {
            EXPECT_EQ(finding.kind, buscheck::FindingKind::ByteWithoutNinthClock) << name;
            EXPECT_EQ(finding.text, "byte 3 ended without its ninth clock") << name;
        }
    }
}

TEST(Checker, ProgramAReadAloneIsClean) {
    Rig rig;
    commands::ProgramA a(rig.port);
    a.cmdRead_Click();
    rig.port.checker.finish();
    EXPECT_EQ(described(rig.port.checker),
              (Lines{"start", "address read 0x2c", "ack", "data 0x80", "ack", "stop"}));
    EXPECT_TRUE(rig.port.checker.findings().empty());
}

void writes(buscheck::Checker& checker, std::initializer_list<std::uint16_t> codes) {
    for (auto code : codes) checker.write(0x378, code);
}

TEST(Checker, ReportsABrokenByteAndABusLeftBusy) {
    buscheck::Checker checker;
    // Start, three bits, then SDA rises while SCL is high.
    writes(checker, {0x13, 0x12, 0x11, 0x13, 0x10, 0x12, 0x11, 0x13});
    writes(checker, {0x12, 0x13});
    ASSERT_EQ(checker.findings().size(), 1U);
    EXPECT_EQ(checker.findings()[0].kind, buscheck::FindingKind::SdaChangeInsideByte);
    EXPECT_EQ(checker.findings()[0].text, "SDA changed while SCL high after 3 bits of byte 1");
    EXPECT_EQ(checker.findings()[0].at, 8U);

    buscheck::Checker unfinished;
    writes(unfinished, {0x13, 0x12, 0x10});
    unfinished.finish();
    ASSERT_EQ(unfinished.findings().size(), 1U);
    EXPECT_EQ(unfinished.findings()[0].kind, buscheck::FindingKind::NotIdleAtEnd);
    EXPECT_EQ(unfinished.findings()[0].text, "the bus is not idle at the end (SCL low, SDA low, no stop)");
}

TEST(Checker, AClockRightBeforeAStopIsItsSetupNotABit) {
    buscheck::Checker checker;
    writes(checker, {0x13, 0x12, 0x10, 0x12, 0x13});  // start, SCL low, SCL high, stop
    checker.finish();
    EXPECT_TRUE(checker.findings().empty());
    EXPECT_EQ(described(checker), (Lines{"start", "stop"}));
}

TEST(Checker, ReadDataComesFromTheStatusSamples) {
    buscheck::Checker checker;
    writes(checker, {0x13, 0x12});
    for (int bit : {0, 1, 0, 1, 1, 0, 0, 1, 0}) {
        writes(checker, {static_cast<std::uint16_t>(0x10 | bit), static_cast<std::uint16_t>(0x12 | bit)});
    }
    for (int bit : {1, 0, 1, 0, 0, 1, 0, 1}) {
        checker.write(0x378, 0x11);
        checker.read(0x379, bit ? 0x0008 : 0xFFF7);
        checker.write(0x378, 0x13);
    }
    writes(checker, {0x13, 0x10, 0x12, 0x13});
    checker.finish();
    EXPECT_EQ(described(checker), (Lines{"start", "address read 0x2c", "ack", "data 0xa5", "ack", "stop"}));
    EXPECT_TRUE(checker.findings().empty());
}

}  // namespace
