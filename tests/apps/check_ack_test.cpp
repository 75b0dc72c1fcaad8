// The acknowledge check and bus recovery, from pxctl as a user runs it: the
// exact port sequence (written out here from the frame layouts), the report,
// the exit status and the decoded trace; and recovery of a stuck device.
#include "run_program.h"
#include "table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

// Builds a .log trace's lines.
struct Log {
    std::vector<std::string> lines;
    std::uint8_t pattern;
    void w(unsigned levels) {
        char text[24];
        std::snprintf(text, sizeof text, "out 0x378 0x%02x", pattern | levels);
        lines.push_back(text);
    }
    void r(bool high) { lines.push_back(high ? "in 0x379 0x007f" : "in 0x379 0x0077"); }
    void bit(bool b) {
        w(b ? 1 : 0);
        w(b ? 3 : 2);
    }
    // A checked acknowledge slot: SDA released for the ninth clock, one sample.
    void slot(bool acknowledged) {
        w(1);
        w(3);
        r(!acknowledged);
    }
    void stop() {
        w(0);
        w(2);
        w(3);
    }
};

constexpr unsigned kSclHighSdaLow = 2;

// A write frame of `bits` bits from `word`, its acknowledge slots at `slots`
// checked and answered as `answers` says, until the first unanswered one.
// Returns whether every slot was answered.
bool frame(Log& log, std::uint32_t word, int bits, const std::vector<int>& slots, const std::vector<bool>& answers,
           const std::vector<unsigned>& closing) {
    log.w(3);
    log.r(true);  // the idle bus, sampled before the start
    log.w(kSclHighSdaLow);
    std::size_t answer = 0;
    for (int b = bits - 1; b >= 0; --b) {
        if (std::find(slots.begin(), slots.end(), b) != slots.end()) {
            const bool acknowledged = answers[answer++];
            log.slot(acknowledged);
            if (!acknowledged) {
                log.stop();
                return false;
            }
            continue;
        }
        log.bit(((word >> b) & 1U) != 0);
    }
    for (unsigned levels : closing) log.w(levels);
    return true;
}

// Program A's read-back of a code, its address slot checked and answered.
void readBack(Log& log, int code) {
    log.w(3);
    log.r(true);
    log.w(kSclHighSdaLow);
    for (int b : {0, 1, 0, 1, 1, 0, 0, 1}) log.bit(b != 0);  // 0x59
    log.slot(true);
    for (int b = 7; b >= 0; --b) {
        log.w(1);
        log.r(((code >> b) & 1) != 0);
        log.w(3);
    }
    for (unsigned levels : {3U, 0U, 2U, 3U}) log.w(levels);
}

struct Row {
    std::string name;
    std::string program;
    std::string port;
    std::vector<bool> answers;  // per checked slot, as far as the frame gets
    int status;
    std::string out;
    std::string err;
    std::string trace;  // the decoded lines, without times
    int read = 5;       // program A: the code its read-back reads
};

class CheckAck : public testing::TestWithParam<Row> {};

TEST_P(CheckAck, ReleasesTheSlotsSamplesThemAndStopsAtTheFirstMissingAnswer) {
    const Row& row = GetParam();
    const bool a = row.program == "a";
    // Code 5 on channel 1: A's word 0x1600005 (26 bits, slots 17 and 8), B's
    // 0x2C0000A (27 bits, slots 18, 9 and 0).
    Log expected{{}, static_cast<std::uint8_t>(a ? 0x10 : 0xF0)};
    const bool whole = a ? frame(expected, 0x1600005, 26, {17, 8}, row.answers, {2, 3})
                         : frame(expected, 0x2C0000A, 27, {18, 9, 0}, row.answers, {0, 2, 3});
    if (a && whole) readBack(expected, row.read);

    const std::string base = testing::TempDir() + "px77xx_check_ack_" + row.name;
    const auto run = runProgram("--program " + row.program + " --port " + row.port + " --check-ack --trace " + base +
                                    ".log set 1 5",
                                PXCTL);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(fileLines(base + ".log"), expected.lines);

    runProgram("--program " + row.program + " --port " + row.port + " --check-ack --trace " + base + ".txt set 1 5",
               PXCTL);
    std::string decoded;
    for (const auto& line : fileLines(base + ".txt")) decoded += line.substr(12) + "\n";
    EXPECT_EQ(decoded, row.trace);
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, CheckAck,
    testing::Values(
        Row{"B_device_present", "b", "sim", {true, true, true}, 0, "", "",
            "code1=5    write 0x2c  00 ack  05 ack   channel 1 <- 5\n"},
        Row{"B_no_device", "b", "sim:device=none", {false}, 1, "",
            "pxctl: set 1 5: cut short after 23 of 59 writes: no device answered at 0x2c (action 1; 0 ran before it)\n",
            "code1=5    write 0x2c nack   address only\n"},
        Row{"B_no_answer_to_byte_2", "b", "sim:nack=2", {true, false}, 1, "",
            "pxctl: set 1 5: cut short after 41 of 59 writes: the device did not acknowledge byte 2 (0x00) (action 1; 0 "
            "ran before it)\n",
            "code1=5    write 0x2c  00 nack   instruction only, no code\n"},
        Row{"A_device_present", "a", "sim", {true, true}, 0, "5\n", "",
            "code1=5    write 0x2c  00 ack  05 (no ninth clock)   channel 1 <- 5\n"
            "code1=5    read  0x2c  05 ack(master)   read 5\n"},
        Row{"A_no_device", "a", "sim:device=none", {false}, 1, "",
            "pxctl: set 1 5: cut short after 23 of 56 writes: no device answered at 0x2c (action 1; 0 ran before it)\n",
            "code1=5    write 0x2c nack   address only\n"},
        Row{"A_no_answer_to_byte_2", "a", "sim:nack=2", {true, false}, 1, "",
            "pxctl: set 1 5: cut short after 41 of 56 writes: the device did not acknowledge byte 2 (0x00) (action 1; 0 "
            "ran before it)\n",
            "code1=5    write 0x2c  00 nack   instruction only, no code\n"},
        // The last slot's stop is the frame's own closing: every write went out
        // (this said "cut short after 59 of 59 writes").
        Row{"B_no_answer_to_the_last_byte", "b", "sim:nack=3", {true, true, false}, 1, "",
            "pxctl: set 1 5: written; the device did not acknowledge the last byte (0x05) (action 1; 0 ran before "
            "it)\n",
            "code1=5    write 0x2c  00 ack  05 nack   channel 1 <- 5\n"},
        // Program A's frame has no slot after its code: the read-back tells
        // (this exited 0, reading back 128).
        Row{"A_no_answer_to_the_last_byte", "a", "sim:nack=3", {true, true}, 1, "",
            "pxctl: set 1 5: written; the device did not take the code: it reads back 128 after 5 was written (this "
            "frame has no acknowledge slot after its last byte) (action 1; 0 ran before it)\n",
            "code1=5    write 0x2c  00 ack  05 (no ninth clock)   channel 1 <- 5\n"
            "code1=5    read  0x2c  80 ack(master)   read 128\n",
            128}),
    RowName());

// A device holding SDA low reads as an acknowledge in every slot; checked, the
// idle bus before the start gives it away and nothing is sent. (Before, stuck=100
// passed as success and stuck=5 said "no device answered".)
struct HeldLow {
    std::string name;
    std::string program;
    int clocks;
};

class StuckBus : public testing::TestWithParam<HeldLow> {};

TEST_P(StuckBus, IsReportedAsStuckBeforeAnyStart) {
    const HeldLow& row = GetParam();
    const std::string log = testing::TempDir() + "px77xx_stuck_" + row.name + ".log";
    const auto run = runProgram("--program " + row.program + " --port sim:stuck=" + std::to_string(row.clocks) +
                                    " --check-ack --trace " + log + " set 1 5 get",
                                PXCTL);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "pxctl: set 1 5: not sent: the bus is stuck (SDA held low); try 'pxctl recover' (action 1; 0 "
                       "ran before it)\n");
    Log expected{{}, static_cast<std::uint8_t>(row.program == "a" ? 0x10 : 0xF0)};
    expected.w(3);
    expected.r(false);
    EXPECT_EQ(fileLines(log), expected.lines);
}

INSTANTIATE_TEST_SUITE_P(Clocks, StuckBus,
                         testing::Values(HeldLow{"A_1", "a", 1}, HeldLow{"A_5", "a", 5}, HeldLow{"A_for_good", "a", 1000},
                                         HeldLow{"B_1", "b", 1}, HeldLow{"B_5", "b", 5}, HeldLow{"B_100", "b", 100},
                                         HeldLow{"B_for_good", "b", 1000}),
                         RowName());

// Then recovery frees it and the checked action goes through.
TEST(StuckBus, RecoveryFreesItForTheCheckedAction) {
    const auto run = runProgram("--port sim:stuck=5 --check-ack recover set 1 5 get", PXCTL);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "bus free\n5\n");
}

struct Stuck {
    std::string name;
    int clocks;  // the device holds SDA low until it has seen this many
    int status;
    std::string out;
    std::string err;
};

class Recover : public testing::TestWithParam<Stuck> {};

// As the kernel's recovery: release both lines and sample; while SDA is low,
// a clock and a sample, nine at the most; then a stop.
TEST_P(Recover, ClocksUntilTheDeviceLetsGoThenStops) {
    const Stuck& row = GetParam();
    const std::string log = testing::TempDir() + "px77xx_recover_" + row.name + ".log";
    const auto run = runProgram("--port sim:stuck=" + std::to_string(row.clocks) + " --trace " + log + " recover get",
                                PXCTL);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, row.err);
    Log expected{{}, 0xF0};
    expected.w(3);
    expected.r(false);
    const int given = row.clocks <= 9 ? row.clocks : 9;
    for (int clock = 1; clock <= given; ++clock) {
        expected.w(1);
        expected.w(3);
        expected.r(clock == row.clocks);
    }
    expected.stop();
    auto lines = fileLines(log);
    if (row.status == 0) lines.resize(expected.lines.size());  // the read-back that follows
    EXPECT_EQ(lines, expected.lines);
}

INSTANTIATE_TEST_SUITE_P(
    StuckDevices, Recover,
    testing::Values(Stuck{"for_1_clock", 1, 0, "bus free\n128\n", ""}, Stuck{"for_5_clocks", 5, 0, "bus free\n128\n", ""},
                    Stuck{"for_9_clocks", 9, 0, "bus free\n128\n", ""},
                    Stuck{"for_good", 1000, 1, "", "pxctl: recover: SDA still low after 9 clocks: the bus is stuck\n"}),
    RowName());

TEST(Recover, AFreeBusTakesNoClockAndAnAdaptersKernelRecoversItsOwn) {
    auto run = runProgram("--port sim recover", PXCTL);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "bus free\n");
    run = runProgram("--port i2c:dev=/dev/null recover", PXCTL);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "i2c /dev/null: the kernel recovers its I2C buses itself; nothing was sent\n");
}

}  // namespace
