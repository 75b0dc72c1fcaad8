// The window programs' command line: every bad option refused with one line and
// exit status 2 before any window opens; Qt's own options; no display.
#include "backend_names.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::runProgram;
using testing_support::ProcessResult;
using testing_support::validBackends;

struct BadCase {
    std::string name;
    std::string arguments;
    std::string message;
};

class BadCommandLines : public testing::TestWithParam<BadCase> {};

TEST_P(BadCommandLines, PrintOneLineAndExitWithStatus2) {
    const ProcessResult run = runProgram(GetParam().arguments, PROGRAM_B);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "px7702_reva: " + GetParam().message + "\n");
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Programs, BadCommandLines,
    testing::Values(
        BadCase{"unknown_option", "--prot sim", "unknown option '--prot'; see --help"},
        BadCase{"stray_argument", "sim", "unexpected argument 'sim'; see --help"},
        BadCase{"port_without_value", "--port", "--port needs a value; see --help"},
        BadCase{"empty_port", "--port=", "--port needs a value; see --help"},
        BadCase{"unknown_backend", "--port parport", "unknown port backend 'parport'; valid backends: " + validBackends()},
        BadCase{"unknown_key", "--port ppdev:device=/dev/parport0", "ppdev: unknown key 'device'; ppdev accepts dev, delay"},
        BadCase{"base_too_high", "--port io:base=0x10000",
                "io: base=0x10000 is out of range; base accepts 0x100..0xfffc, a multiple of 4"},
        BadCase{"base_not_multiple_of_4", "--port io:base=0x379",
                "io: base=0x379 is not a multiple of 4; base accepts 0x100..0xfffc, a multiple of 4"},
        BadCase{"delay_negative", "--port ppdev:delay=-1",
                "ppdev: delay=-1 is not a number; delay accepts microseconds 0..1000000"},
        BadCase{"delay_text", "--port ppdev:delay=abc",
                "ppdev: delay=abc is not a number; delay accepts microseconds 0..1000000"},
        BadCase{"an_option_as_the_trace_file", "--port sim --trace --exit-when-shown",
                "--trace needs a value, not the option '--exit-when-shown'; see --help"},
        BadCase{"unknown_trace_format", "--port sim --trace bus.csv",
                "trace bus.csv: unknown extension '.csv'; formats: .txt (decoded bus transactions; - for standard "
                "output), .log (one line per port access), .vcd (waveform)"},
        BadCase{"unwritable_trace", "--port sim --trace /nonexistent-dir/bus.vcd",
                "trace /nonexistent-dir/bus.vcd: cannot open for writing: No such file or directory"},
        // The last one used to win without a word.
        BadCase{"port_given_twice", "--port sim --port=ppdev", "--port is given twice; give it once"},
        BadCase{"address_not_seven_bits", "--address 0x100",
                "--address 0x100 is not a 7-bit device address; give 0x08..0x77 (0x2c, the default, makes the address "
                "bytes 0x58 and 0x59)"},
        BadCase{"words_after_the_end_of_options", "--port sim -- x", "unexpected argument 'x'; see --help"},
        BadCase{"trace_given_twice", "--trace a.log --port sim --trace b.log", "--trace is given twice; give it once"},
        // A path's control bytes reach the terminal escaped.
        BadCase{"control_bytes_in_a_trace_path", "--port sim --trace \"$(printf '/nonexistent/\\033]0;x\\377.log')\"",
                "trace /nonexistent/\\x1b]0;x\\xff.log: cannot open for writing: No such file or directory"}),
    [](const testing::TestParamInfo<BadCase>& row) { return row.param.name; });

TEST(Programs, HelpAndVersion) {
    ProcessResult run = runProgram("--help", PROGRAM_B);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Usage: px7702_reva [--port BACKEND[:key=value,...]] [--address 0xNN] [--trace FILE]"), std::string::npos);
    EXPECT_NE(run.out.find("ppdev[:dev=/dev/parportN]"), std::string::npos);
    run = runProgram("--port sim --exit-when-shown", PROGRAM_B);
    EXPECT_EQ(run.status, 0) << run.err;
    run = runProgram("--version", PROGRAM_B);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("px7702_reva ", 0), 0U);
}

// Qt's own options go to Qt; ours are parsed as before, in any order.
TEST(Programs, QtOptionsGoToQt) {
    for (const char* arguments : {"-platform offscreen --port sim --exit-when-shown",
                                  "--port sim --platform offscreen -style Fusion -reverse --exit-when-shown"}) {
        const ProcessResult run = runProgram(arguments, PROGRAM_B, "", "env -u QT_QPA_PLATFORM");
        EXPECT_EQ(run.status, 0) << arguments << ": " << run.err;
    }
    const ProcessResult run = runProgram("--port sim -platform", PROGRAM_B);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "px7702_reva: -platform needs a value; see --help\n");
}

TEST(Programs, WithoutADisplaySayWhatToDoAndExitWithStatus1) {
    const ProcessResult run =
        runProgram("--port sim", PROGRAM_B, "", "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "px7702_reva: cannot open a window: no display available (could not connect to display); for work "
              "without a window use pxctl --program b (see pxctl --help)\n");
}

}  // namespace
