// The decoded trace: for sequences of actions on both programs, one line per bus
// transaction (times left out) equal to what the handlers' frames say.
#include "script/actions.h"
#include "script/json.h"
#include "script/runner.h"
#include "commands/descriptor.h"
#include "ports/trace_port.h"
#include "recording_port.h"
#include "sim/board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The lines written to file so far, without their times.
std::string decodedLines(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) text += std::string(line).substr(12);
    return text;
}

std::string decodedTrace(const commands::Descriptor& d, const std::vector<std::string>& words) {
    std::FILE* file = std::tmpfile();
    auto trace = std::make_unique<ports::TracePort>(std::make_unique<sim::Board>(), file, ports::kDecodedTrace,
                                                    "tmp");
    auto program = d.make(*trace);
    std::ostringstream out, err;
    script::Runner runner(*program, out, err, false);
    runner.executor().setActionListener([&](const std::string& action) { trace->setAction(action); });
    for (const auto& action : script::parseActions(words, d)) EXPECT_TRUE(runner.run(action)) << err.str();
    return decodedLines(file);  // the trace closes the file
}

struct Row {
    std::string name;
    const commands::Descriptor* program;
    std::vector<std::string> actions;
    std::string lines;
};

class DecodedTrace : public testing::TestWithParam<Row> {};

TEST_P(DecodedTrace, OneLinePerTransactionAsTheFramesSay) {
    EXPECT_EQ(decodedTrace(*GetParam().program, GetParam().actions), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DecodedTrace,
    testing::Values(
        Row{"B_code_entry", &commands::kDescriptorB, {"code2=200"},
            "code2=200  write 0x2c  80 ack(master)  c8 ack(master)   channel 2 <- 200\n"},
        Row{"B_preset_writes_twice", &commands::kDescriptorB, {"code1=5", "mid"},
            "code1=5    write 0x2c  00 ack(master)  05 ack(master)   channel 1 <- 5\n"
            "mid        write 0x2c  00 ack(master)  80 ack(master)   channel 1 <- 128\n"
            "mid        write 0x2c  00 ack(master)  80 ack(master)   channel 1 <- 128\n"},
        Row{"B_read_runs_then_reads_the_wiper", &commands::kDescriptorB, {"code1=9", "read"},
            "code1=9    write 0x2c  00 ack(master)  09 ack(master)   channel 1 <- 9\n"
            "read       write 0x2c  00 ack(master)  09 ack(master)   channel 1 <- 9\n"
            "read       read  0x2c  09 ack(master)   read 9\n"},
        Row{"B_shutdown_and_back", &commands::kDescriptorB, {"shdn", "code1=1"},
            "shdn       data register 0xaf  shutdown pattern (D4 low)\n"
            "code1=1    data register 0xf3  D4 high again: out of shutdown\n"
            "code1=1    write 0x2c  00 ack(master)  01 ack(master)   channel 1 <- 1\n"},
        // A hand-set panel: address byte 0x5a is 7-bit 0x2d, which nobody answers.
        Row{"B_hand_set_panel_with_another_address", &commands::kDescriptorB, {"bit:25=1", "bit:23=1", "bit:22=1", "bit:20=1", "bit:5=1", "run"},
            "run        write 0x2d  00 ack(master)  10 ack(master)   not the potentiometer's address\n"},
        Row{"A_code_entry_reads_back", &commands::kDescriptorA, {"code1=200"},
            "code1=200  write 0x2c  00 ack(master)  c8 (no ninth clock)   channel 1 <- 200\n"
            "code1=200  read  0x2c  c8 ack(master)   read 200\n"},
        Row{"A_preset_writes_and_reads_twice", &commands::kDescriptorA, {"ch2", "code2=3", "full"},
            "code2=3    write 0x2c  80 ack(master)  03 (no ninth clock)   channel 2 <- 3\n"
            "code2=3    read  0x2c  03 ack(master)   read 3\n"
            "full       write 0x2c  80 ack(master)  ff (no ninth clock)   channel 2 <- 255\n"
            "full       read  0x2c  ff ack(master)   read 255\n"
            "full       write 0x2c  80 ack(master)  ff (no ninth clock)   channel 2 <- 255\n"
            "full       read  0x2c  ff ack(master)   read 255\n"},
        Row{"A_get_is_a_read_alone", &commands::kDescriptorA, {"get"}, "get        read  0x2c  80 ack(master)   read 128\n"}),
    [](const testing::TestParamInfo<Row>& row) { return row.param.name; });

}  // namespace

namespace {

// A port that fails part-way through a frame: the trace ends with the
// transaction as far as it got, so that it never looks complete when it is not.
TEST(DecodedTrace, ATransactionCutShortIsShownAsFarAsItGot) {
    const std::string path = testing::TempDir() + "px77xx_cut_short.txt";
    auto board = std::make_unique<testing_support::RecordingPort>();
    board->failAt = 31;  // the start, the address byte and its acknowledge, five bits of the instruction
    auto trace = std::make_unique<ports::TracePort>(std::move(board), path);
    auto program = commands::kDescriptorB.make(*trace);
    trace->setAction("code1=200");
    EXPECT_THROW(program->controls().vsbInputCode1.setValue(200), bus::PortError);
    trace->close();
    std::FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(decodedLines(file), "code1=200  write 0x2c   address only   cut short\n");
    std::fclose(file);
}

}  // namespace
