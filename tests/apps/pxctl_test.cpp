// pxctl: set and get against the frames and read-back the handlers send, what
// it prints, how it stops on a failing port, and its exit statuses as a process.
#include "script/actions.h"
#include "script/json.h"
#include "script/runner.h"
#include "commands/descriptor.h"
#include "frame_decoder.h"
#include "backend_names.h"
#include "run_program.h"
#include "recording_port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

struct Ran {
    std::vector<Access> log;
    std::string out;
    std::string err;
    bool ok = true;
};

// Runs words on a fresh program whose port answers every read with `sample`.
Ran runWords(const commands::Descriptor& d, const std::vector<std::string>& words, bool json = false,
             std::size_t failAfter = 0, std::uint16_t sample = 0x0008) {
    RecordingPort port;
    port.idleStatus = sample;
    if (failAfter != 0) port.failAfter(failAfter);
    auto program = d.make(port);
    std::ostringstream out, err;
    script::Runner runner(*program, out, err, json);
    Ran ran;
    for (const auto& action : script::parseActions(words, d)) {
        if (!runner.run(action)) {
            ran.ok = false;
            break;
        }
    }
    ran.log = port.log;
    ran.out = out.str();
    ran.err = err.str();
    return ran;
}

// The same program driven by calling its handlers directly.
std::vector<Access> runHandlers(const commands::Descriptor& d, const std::function<void(commands::Program&)>& f) {
    RecordingPort port;
    port.idleStatus = 0x0008;
    auto program = d.make(port);
    f(*program);
    return port.log;
}

struct SetCase {
    std::string name;
    const commands::Descriptor* program;
    std::vector<std::string> words;
    std::function<void(commands::Program&)> handlers;
    std::uint32_t lastFrame;
    std::string out;
};

class SetAndGet : public testing::TestWithParam<SetCase> {};

TEST_P(SetAndGet, SendWhatTheHandlersSend) {
    const SetCase& row = GetParam();
    const Ran ran = runWords(*row.program, row.words);
    ASSERT_TRUE(ran.ok) << ran.err;
    EXPECT_EQ(ran.log, runHandlers(*row.program, row.handlers));
    EXPECT_EQ(ran.out, row.out);
    if (row.lastFrame != 0) {
        const bool a = row.program == &commands::kDescriptorA;
        // The last frame on the bus: A's is followed by its 48-access read-back.
        const std::size_t frameLength = a ? 56 : 59;
        const std::size_t from = ran.log.size() - frameLength - (a ? 48 : 0);
        const auto frame = a ? decodeFrameA(ran.log, from) : decodeFrameB(ran.log, from);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->word, row.lastFrame);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Actions, SetAndGet,
    testing::Values(
        SetCase{"B_set_where_the_bar_holds_0_still_writes", &commands::kDescriptorB, {"set", "1", "0"},
                [](auto& p) { p.vsbInputCode1_Change(); }, 0x2C00000, ""},
        SetCase{"B_set_channel_2_to_0", &commands::kDescriptorB, {"set", "2", "0"},
                [](auto& p) { p.vsbInputCode2_Change(); }, 0x2C20000, ""},
        SetCase{"B_set_twice_writes_twice", &commands::kDescriptorB, {"set", "1", "7", "set", "1", "7"},
                [](auto& p) {
                    p.controls().vsbInputCode1.setValue(7);
                    p.vsbInputCode1_Change();
                },
                0x2C0000E, ""},
        SetCase{"A_set_reads_back_and_prints_it", &commands::kDescriptorA, {"set", "1", "0"},
                [](auto& p) { p.vsbInputCode1_Change(); }, 0x1600000, "255\n"},
        SetCase{"A_set_200_on_channel_2", &commands::kDescriptorA, {"set", "2", "200"},
                [](auto& p) { p.controls().vsbInputCode2.setValue(200); }, 0x16100C8, "255\n"},
        SetCase{"B_get_is_the_read_back_alone", &commands::kDescriptorB, {"get"},
                [](auto& p) { p.readBack(); }, 0, "255\n"},
        SetCase{"A_get_is_Read", &commands::kDescriptorA, {"get"}, [](auto& p) { p.cmdRead_Click(); }, 0, "255\n"},
        SetCase{"B_read_runs_first_and_prints", &commands::kDescriptorB, {"read"},
                [](auto& p) { p.cmdRead_Click(); }, 0, "255\n"}),
    [](const testing::TestParamInfo<SetCase>& row) { return row.param.name; });

TEST(Pxctl, GetWritesNoFrame) {
    const Ran ran = runWords(commands::kDescriptorB, {"get"});
    EXPECT_EQ(ran.log.size(), 48U);  // start, nine address bits, eight samples, the ninth clock and stop
    EXPECT_EQ(std::count_if(ran.log.begin(), ran.log.end(), [](const Access& a) { return a.read; }), 8);
}

TEST(Pxctl, JsonHasTheIndexTheActionOkTheReadTheFrameWordAndTheDisplaysByTheirPlainNames) {
    const Ran ran = runWords(commands::kDescriptorA, {"set", "2", "200"}, true, 0, 0x0000);
    EXPECT_EQ(ran.out,
              "{\"index\":1,\"action\":\"set 2 200\",\"ok\":true,\"read\":0,\"frame_word\":23134408,\"displays\":{"
              "\"code1\":null,\"code2\":200,\"channel_written\":2,\"channel_read\":2,\"data_written\":200,"
              "\"byte_read\":0}}\n");
}

TEST(Pxctl, AFailingPortStopsTheSequenceAndSaysWhere) {
    // Program B's first frame is 59 accesses; the second frame fails at its first.
    const Ran ran = runWords(commands::kDescriptorB, {"set", "1", "5", "set", "2", "6", "read"}, false, 60);
    EXPECT_FALSE(ran.ok);
    EXPECT_EQ(ran.log.size(), 59U);
    EXPECT_EQ(ran.err, "pxctl: set 2 6: not sent: test port: injected failure (action 2; 1 ran before it)\n");
}

// A trace on a full disk is reported once, and every action still runs.
TEST(Pxctl, AFullDiskTraceIsAWarningNotAFailure) {
    const std::string path = testing::TempDir() + "px77xx_full_trace.txt";
    std::remove(path.c_str());
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    const ProcessResult run = runProgram("--port sim --trace " + path + " set 1 5 set 2 6 get", PXCTL);
    std::remove(path.c_str());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "6\n");
    EXPECT_EQ(run.err, "pxctl: warning: trace " + path + ": write: No space left on device; recording stopped\n");
}

TEST(Pxctl, StandardInputWordsSkipBlanksAndComments) {
    EXPECT_EQ(script::splitWords("  set 1\t200 \r"), (std::vector<std::string>{"set", "1", "200"}));
    EXPECT_TRUE(script::splitWords("# a comment").empty());
    EXPECT_TRUE(script::splitWords("   ").empty());
}

struct ProcessCase {
    std::string name;
    std::string arguments;
    int status;
    std::string out;
    std::string err;
    std::string input = "";
};

class PxctlProcess : public testing::TestWithParam<ProcessCase> {};

TEST_P(PxctlProcess, ExitsWithItsStatusAndMessage) {
    const ProcessCase& row = GetParam();
    const ProcessResult run = runProgram(row.arguments, PXCTL, row.input);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, row.err);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, PxctlProcess,
    testing::Values(
        ProcessCase{"sim_set_and_get", "--port sim set 2 200 get", 0, "200\n", ""},
        ProcessCase{"program_a_prints_every_read_back", "--program a --port sim set 1 9 mid", 0, "9\n128\n", ""},
        ProcessCase{"session_through_a_pipe", "--port sim -", 0, "42\n", "", "set 1 42\n\n# read it\nget\n"},
        ProcessCase{"a_bad_line_stops_the_session", "--port sim -", 2, "42\n", "pxctl: line 3: action 'sett': is not "
                    "known; actions are ch1, ch2, zero, mid, full, run, read, shdn, get, code1=N, code2=N, bit:K=V, set "
                    "CH N, recover\n",
                    "set 1 42\nget\nsett 1 4\nget\n"},
        ProcessCase{"keep_going_reports_a_bad_line_goes_on_and_ends_with_2", "--port sim --keep-going -", 2, "42\n43\n",
                    "pxctl: line 2: action 'bit:45=1': the bit must be 0..44\n", "set 1 42\nbit:45=1\nget\nset 1 43 get\n"},
        ProcessCase{"keep_going_with_json_puts_the_bad_line_on_standard_output", "--json --port sim --keep-going -", 2,
                    "{\"line\":1,\"ok\":false,\"error\":\"line 1: action 'set 3 1': the channel must be 1..2\"}\n"
                    "{\"index\":1,\"action\":\"ch2\",\"ok\":true,\"read\":null,\"frame_word\":0,\"displays\":{\"code1\":null,"
                    "\"code2\":null,\"channel_written\":2,\"channel_read\":2,\"data_written\":0,\"byte_read\":null}}\n",
                    "pxctl: line 1: action 'set 3 1': the channel must be 1..2\n", "set 3 1\nch2\n"},
        ProcessCase{"listen_is_for_serve", "--port sim --listen 127.0.0.1:5025 get", 2, "",
                    "pxctl: --listen, --vxi11, --no-announce, --clients and --idle-timeout are for pxctl serve\n"},
        ProcessCase{"idle_timeout_is_for_serve", "--port sim --idle-timeout 5 get", 2, "",
                    "pxctl: --listen, --vxi11, --no-announce, --clients and --idle-timeout are for pxctl serve\n"},
        ProcessCase{"no_announce_is_for_serve", "--port sim --no-announce get", 2, "",
                    "pxctl: --listen, --vxi11, --no-announce, --clients and --idle-timeout are for pxctl serve\n"},
        ProcessCase{"clients_are_counted", "--port sim --clients 0 serve", 2, "",
                    "pxctl: --clients 0 is not a number of clients; give 1..64 (4, the default)\n"},
        ProcessCase{"serve_answers_in_scpi_not_json", "--port sim --json serve", 2,
                    "{\"line\":0,\"ok\":false,\"error\":\"--json does not apply to serve: it answers in SCPI\"}\n",
                    "pxctl: --json does not apply to serve: it answers in SCPI\n"},
        ProcessCase{"serve_needs_an_address_it_can_read", "--port sim serve --listen ::1:5025", 2, "",
                    "pxctl: --listen ::1:5025: not an address; give ADDR:PORT (127.0.0.1:5025, [::1]:5025)\n"},
        ProcessCase{"keep_going_without_a_bad_line_is_0", "--port sim --keep-going -", 0, "7\n", "", "set 2 7 get\n"},
        ProcessCase{"keep_going_is_for_standard_input", "--port sim --keep-going get", 2, "",
                    "pxctl: --keep-going is for actions read from standard input (-)\n"},
        ProcessCase{"a_bad_action_with_json_is_an_object_too", "--json --port sim get sett", 2,
                    "{\"line\":0,\"ok\":false,\"error\":\"action 'sett': is not known; actions are ch1, ch2, zero, mid, "
                    "full, run, read, shdn, get, code1=N, code2=N, bit:K=V, set CH N, recover\"}\n",
                    "pxctl: action 'sett': is not known; actions are ch1, ch2, zero, mid, full, run, read, shdn, get, "
                    "code1=N, code2=N, bit:K=V, set CH N, recover\n"},
        ProcessCase{"a_comment_anywhere_on_a_line", "--port sim -", 0, "42\n42\n", "",
                    "set 1 42 # the first\nget# and back\n\t# indented\nread #\n"},
        ProcessCase{"a_port_failure_names_its_line", "--port ppdev:dev=/dev/parport-none -", 1, "",
                    "pxctl: line 2: set 1 5: not sent: ppdev /dev/parport-none: open: No such file or directory (load "
                    "the parport_pc and ppdev modules) (action 1; 0 ran before it)\n",
                    "# a comment\nset 1 5\nget\n"},
        ProcessCase{"a_stuck_bus_names_its_line", "--port sim:stuck=20 -", 1, "",
                    "pxctl: line 1: recover: SDA still low after 9 clocks: the bus is stuck\n", "recover\nget\n"},
        ProcessCase{"code_out_of_range", "--port sim code1=256", 2, "", "pxctl: action 'code1=256': the code must be 0..255\n"},
        ProcessCase{"bit_out_of_range", "--port sim bit:45=1", 2, "", "pxctl: action 'bit:45=1': the bit must be 0..44\n"},
        ProcessCase{"shdn_on_program_a", "--program a --port sim shdn", 2, "",
                    "pxctl: action 'shdn': is not a button of program a (PX7700_02_RevA)\n"},
        ProcessCase{"unknown_action", "--port sim frobnicate", 2, "",
                    "pxctl: action 'frobnicate': is not known; actions are ch1, ch2, zero, mid, full, run, read, "
                    "shdn, get, code1=N, code2=N, bit:K=V, set CH N, recover\n"},
        ProcessCase{"bad_port_string", "--port parport set 1 5", 2, "",
                    "pxctl: unknown port backend 'parport'; valid backends: " + testing_support::validBackends() + "\n"},
        ProcessCase{"bad_action_before_the_port_is_touched", "--port ppdev:dev=/nonexistent set 1 5 frobnicate", 2, "",
                    "pxctl: action 'frobnicate': is not known; actions are ch1, ch2, zero, mid, full, run, read, "
                    "shdn, get, code1=N, code2=N, bit:K=V, set CH N, recover\n"},
        ProcessCase{"no_action", "--port sim", 2, "", "pxctl: no action given; see --help\n"},
        ProcessCase{"unknown_program", "--program c set 1 5", 2, "", "pxctl: --program c is not known; use a or b\n"},
        ProcessCase{"port_fails_at_the_first_access", "--port ppdev:dev=/dev/parport-none set 1 5 read", 1, "",
                    "pxctl: set 1 5: not sent: ppdev /dev/parport-none: open: No such file or directory (load the "
                    "parport_pc and ppdev modules) (action 1; 0 ran before it)\n"},
        // Messages that say what is wrong, and no more.
        ProcessCase{"a_path_outside_dev_has_no_module_hint", "--port ppdev:dev=relative get", 1, "",
                    "pxctl: get: not sent: ppdev relative: open: No such file or directory (action 1; 0 ran before it)\n"},
        ProcessCase{"a_device_that_is_not_a_parallel_port", "--port ppdev:dev=/dev/null get", 1, "",
                    "pxctl: get: not sent: ppdev /dev/null: PPEXCL: Inappropriate ioctl for device (not a parallel port "
                    "device) (action 1; 0 ran before it)\n"},
        ProcessCase{"a_device_that_is_not_an_i2c_adapter", "--port i2c:dev=/dev/null get", 1, "",
                    "pxctl: get: not sent: i2c /dev/null: I2C_FUNCS: Inappropriate ioctl for device (not an I2C "
                    "adapter; i2cdetect -l lists them) (action 1; 0 ran before it)\n"},
        ProcessCase{"a_negative_code_is_a_value_error", "--port sim set 1 -1", 2, "",
                    "pxctl: action 'set 1 -1': the code must be 0..255\n"},
        ProcessCase{"hexadecimal_after_0x", "--port sim code1=0x10 get", 0, "16\n", ""},
        // The habits of other tools: -- ends the options, -V the version, help ACTION, quit.
        ProcessCase{"double_dash_ends_the_options", "--port sim -- set 1 5 get", 0, "5\n", ""},
        ProcessCase{"dash_v_is_the_version", "-V", 0, "pxctl " PX_VERSION_TEXT "\n", ""},
        ProcessCase{"help_action_and_quit_in_a_session", "--port sim -", 0,
                    "get\n  the read-back alone, without writing a frame first\n128\n", "",
                    "help get\nget\nquit\nset 1 5\n"},
        ProcessCase{"help_of_no_action", "--port sim -", 2, "",
                    "pxctl: line 1: help: no action is called 'gte'; help alone lists them\n", "help gte\n"},
        // Another strapping: the frames carry its address, the board answers there.
        ProcessCase{"address_of_a_chip_strapped_elsewhere", "--port sim:address=0x2d --address 0x2d set 1 9 get", 0,
                    "9\n", ""},
        ProcessCase{"address_where_nobody_answers", "--port sim --address 0x2d --check-ack get", 1, "",
                    "pxctl: get: cut short after 23 of 40 writes: no device answered at 0x2d (action 1; 0 ran before "
                    "it)\n"},
        ProcessCase{"address_out_of_range", "--address 0x78 get", 2, "",
                    "pxctl: --address 0x78 is not a 7-bit device address; give 0x08..0x77 (0x2c, the default, makes "
                    "the address bytes 0x58 and 0x59)\n"},
        ProcessCase{"a_leading_zero_is_still_decimal", "--port sim set 1 010 get", 0, "10\n", ""},
        ProcessCase{"a_long_bad_word_is_cut", "--port sim " + std::string(200, 'x'), 2, "",
                    "pxctl: action '" + std::string(64, 'x') + "...': is not known; actions are ch1, ch2, zero, mid, "
                    "full, run, read, shdn, get, code1=N, code2=N, bit:K=V, set CH N, recover\n"},
        // What is printed is part of the result.
        ProcessCase{"output_to_a_full_disk", "--port sim get >/dev/full", 1, "",
                    "pxctl: standard output: No space left on device\n"},
        ProcessCase{"json_to_a_full_disk", "--port sim --json get >/dev/full", 1, "",
                    "pxctl: standard output: No space left on device\n"},
        ProcessCase{"output_closed", "--port sim get >&-", 1, "", "pxctl: standard output: Bad file descriptor\n"},
        ProcessCase{"help_to_a_full_disk", "--help >/dev/full", 1, "", "pxctl: standard output: No space left on device\n"},
        ProcessCase{"json_and_a_trace_on_standard_output", "--port sim --json --trace - get", 2,
                    "{\"line\":0,\"ok\":false,\"error\":\"--json and --trace - both write to standard output; give "
                    "the trace a file\"}\n",
                    "pxctl: --json and --trace - both write to standard output; give the trace a file\n"},
        // Nothing opens a bus nobody named (this opened /dev/i2c-0).
        // A line is bounded: memory stays small and the time linear (a 40 MB
        // line took 8 s and 82 MB).
        ProcessCase{"a_line_too_long", "--port sim -", 2, "",
                    "pxctl: line 1: longer than 65536 bytes; a line holds at most that\n",
                    std::string(70000, 'x') + "\nget\n"},
        ProcessCase{"i2c_without_its_bus", "--port i2c get", 2, "",
                    "pxctl: i2c: name the adapter with bus=N or dev=/dev/i2c-N (as i2cdetect -l lists them); no I2C "
                    "adapter is here (is i2c-dev loaded?)\n"},
        ProcessCase{"program_given_twice", "--program a --port sim --program b get", 2, "",
                    "pxctl: --program is given twice; give it once\n"},
        // Control bytes and bytes that are not UTF-8 in a path, escaped in the
        // message (an ESC ]0; sequence retitled the terminal) and in the JSON.
        ProcessCase{"control_bytes_in_a_port_message", "--port \"lib:path=$(printf '/nonexistent/\\033]0;x\\377.so')\" get",
                    1, "",
                    "pxctl: get: not sent: lib /nonexistent/\\x1b]0;x\\xff.so: cannot load: /nonexistent/\\x1b]0;x\\xff.so: "
                    "cannot open shared object file: No such file or directory (action 1; 0 ran before it)\n"},
        // Read back by Python's own JSON parser, as a lab script would.
        ProcessCase{"control_bytes_in_json_for_python",
                    "--json --port \"lib:path=$(printf '/nonexistent/\\033\\377.so')\" get 2>/dev/null | /usr/bin/python3 -c "
                    "'import json,sys; print(json.loads(sys.stdin.readline())[\"error\"])'",
                    0,
                    "get: not sent: lib /nonexistent/\\x1b\\xff.so: cannot load: /nonexistent/\\x1b\\xff.so: cannot open shared object "
                    "file: No such file or directory\n",
                    ""}),
    [](const testing::TestParamInfo<ProcessCase>& row) { return row.param.name; });

// A help line lists every action and goes on; with --json it keeps standard
// output to JSON Lines.
TEST(PxctlSession, AHelpLineListsTheActions) {
    for (const bool json : {false, true}) {
        const ProcessResult run =
            runProgram(std::string(json ? "--json " : "") + "--port sim -", PXCTL, "help\nset 1 9\nget\n");
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string& help = json ? run.err : run.out;
        for (const auto& action : script::actionHelpEntries()) {
            EXPECT_NE(help.find("\n  " + action.form + " "), std::string::npos) << action.form;
        }
        if (json) {
            EXPECT_EQ(run.out.rfind("{\"index\":1,\"action\":\"set 1 9\",\"ok\":true", 0), 0U) << run.out;
        } else {
            EXPECT_EQ(run.out.substr(run.out.size() - 4), ")\n9\n");
        }
    }
}

// At a terminal a typo is reported with its line, and the session goes on at
// the next prompt; the end of input ends it with status 0.
TEST(PxctlSession, AtATerminalABadLineIsReportedAndTheSessionGoesOn) {
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(PXCTL, PXCTL, "--port", "sim", "-", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    // Reads what the terminal shows until `text` has appeared `times` times.
    auto until = [&](const std::string& text, int times) {
        for (int waited = 0; waited < 100; ++waited) {
            int found = 0;
            for (auto at = seen.find(text); at != std::string::npos; at = seen.find(text, at + 1)) ++found;
            if (found >= times) return true;
            pollfd fd{terminal, POLLIN, 0};
            if (poll(&fd, 1, 100) <= 0) continue;
            char chunk[512];
            const ssize_t got = read(terminal, chunk, sizeof chunk);
            if (got <= 0) return false;
            seen.append(chunk, static_cast<std::size_t>(got));
        }
        return false;
    };
    auto type = [&](const std::string& text) {
        ASSERT_EQ(write(terminal, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    };
    ASSERT_TRUE(until("pxctl> ", 1)) << seen;
    type("hlep\n");
    ASSERT_TRUE(until("pxctl> ", 2)) << seen;
    EXPECT_NE(seen.find("pxctl: line 1: action 'hlep': is not known"), std::string::npos) << seen;
    type("set 1 7 # after the typo\n");
    ASSERT_TRUE(until("pxctl> ", 3)) << seen;
    type("get\n");
    ASSERT_TRUE(until("\r\n7\r\n", 1)) << seen;
    ASSERT_TRUE(until("pxctl> ", 4)) << seen;
    type("\x04");  // the end of input, at the start of a line
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    close(terminal);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw << "\n" << seen;
}

}  // namespace
