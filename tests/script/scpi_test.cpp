// The SCPI instrument on the simulated board: lines in, answers out, the error
// queue and status registers as IEEE 488.2 and SCPI-1999 define them.
#include "commands/descriptor.h"
#include "controls/controls.h"
#include "script/scpi.h"
#include "sim/board.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Exchange {
    std::string line;
    std::optional<std::string> answer;
};

struct Session {
    std::string name;
    const commands::Descriptor* program;
    std::vector<Exchange> exchanges;
    int wiper1 = 128;  // the board after the session
    int wiper2 = 128;
};

class ScpiSession : public testing::TestWithParam<Session> {};

TEST_P(ScpiSession, AnswersEveryQueryAndDrivesTheBoard) {
    const Session& s = GetParam();
    sim::Board board;
    script::ScpiInstrument instrument(*s.program, board, {"sim", "0.3.0"}, nullptr);
    for (const Exchange& e : s.exchanges) EXPECT_EQ(instrument.line(e.line), e.answer) << e.line;
    EXPECT_EQ(board.wiper(1), s.wiper1);
    EXPECT_EQ(board.wiper(2), s.wiper2);
}

const std::optional<std::string> none;
const std::string nan = "9.91E37";

INSTANTIATE_TEST_SUITE_P(
    Sessions, ScpiSession,
    testing::Values(
        Session{"identity_and_both_wipers_b", &commands::kDescriptorB,
                {{"*IDN?", "px77xx,PX7702_RevA,sim,0.3.0"},
                 {"WIPer1 200", none},
                 {"wip2:code 17", none},
                 {"SOURce:WIPer1?;WIPER2?", "200;17"},
                 {":SOUR:WIP2:CODE MAX;:WIP2?", "255"},
                 {"READ?", "255"},
                 {"FETCh?", "255"},
                 {"SYST:ERR?", "0,\"No error\""}},
                200, 255},
        Session{"program_a_reads_back_every_write", &commands::kDescriptorA,
                {{"*IDN?", "px77xx,PX7700_02_RevA,sim,0.3.0"},
                 {"WIP1 9", none},
                 {"FETC?", "9"},
                 {"wip2 min;FETCH?", "0"},
                 {"WIP2? DEF;WIP2? MAX;WIP2? MINIMUM", "128;255;0"}},
                9, 0},
        Session{"presets_channel_and_the_panel", &commands::kDescriptorB,
                {{"CHAN 2;PRES MID", none},
                 {"CHAN?", "2"},
                 {"PRES FULL;:PAN:BIT1 0;RUN", none},
                 {"PANel:WORD?;DATA?", "46268924;254"},
                 {"PAN:BIT1?;BIT8?", "0;1"},
                 {"MEAS?", "254"}},
                128, 254},
        Session{"shutdown_and_rst_write_nothing", &commands::kDescriptorB,
                {{"WIP1 5;SHUT", none}, {"*RST", none}, {"WIP1?;FETC?", "0;" + nan}, {"SYST:ERR:COUN?", "0"}}, 5,
                128},
        Session{"errors_answer_every_query_and_leave_the_session_working", &commands::kDescriptorB,
                {{"WIPer3 5", none},
                 {"WIP1 256", none},
                 {"WIP1", none},
                 {"BOGUS?", nan},
                 {"WIP1 fifty", none},
                 {"PRES HALF", none},
                 {"WIP1 1,2", none},
                 {"*ESR?", "176"},  // power-on, command errors (-1xx) and execution errors (-2xx)
                 {"SYST:ERR:COUN?", "7"},
                 {"SYST:ERR?", "-114,\"Header suffix out of range;WIPer3\""},
                 {"SYST:ERR:NEXT?", "-222,\"Data out of range;256 (0..255)\""},
                 {"syst:err?", "-109,\"Missing parameter;WIP1\""},
                 {"SYST:ERR?;ERR?", "-113,\"Undefined header;BOGUS\";-104,\"Data type error;fifty\""},
                 {"SYST:ERR?", "-224,\"Illegal parameter value;HALF (ZERO, MID or FULL)\""},
                 {"SYST:ERR?", "-108,\"Parameter not allowed;WIP1\""},
                 {"SYST:ERR?", "0,\"No error\""},
                 {"WIP1 7", none}},
                7, 128},
        Session{"common_commands_and_status", &commands::kDescriptorB,
                {{"*ESR?", "128"},
                 {"*ESE 60;*ESE?;*SRE 255;*SRE?", "60;191"},
                 {"*OPC;*ESR?", "1"},
                 {"*OPC?;*TST?;*WAI;SYST:VERS?", "1;0;1999.0"},
                 {"FOO", none},
                 {"*STB?", "100"},  // EAV, ESB and MSS
                 {"*CLS;*STB?;*ESR?", "0;0"}},
                128, 128},
        Session{"program_a_has_no_shutdown", &commands::kDescriptorA,
                {{"SHUT", none}, {"SYST:ERR?", "-113,\"Undefined header;SHUT: program a has no /SHDN\""}}, 128,
                128}),
    [](const testing::TestParamInfo<Session>& row) { return row.param.name; });

TEST(ScpiErrors, APortFailureIsAHardwareErrorWithTheReportAndAQueryStillAnswers) {
    sim::Board board(false);
    script::ScpiInstrument instrument(commands::kDescriptorB, board, {"sim (no device)", "0.3.0", true}, nullptr);
    EXPECT_EQ(instrument.line("WIP1 5;READ?"), nan);
    EXPECT_EQ(instrument.line("SYST:ERR?"),
              "-241,\"Hardware missing;set 1 5: cut short after 23 of 59 writes: no device answered at 0x2c\"");
    EXPECT_EQ(instrument.line("BUS:CHEC OFF;BUS:CHEC?;:READ?"), "0;255");
}

TEST(ScpiErrors, TheQueueHoldsFifteenAndEndsInOverflow) {
    sim::Board board;
    script::ScpiInstrument instrument(commands::kDescriptorB, board, {"sim", "0.3.0"}, nullptr);
    for (int i = 0; i < 1000; ++i) instrument.line("NOPE");
    EXPECT_EQ(instrument.errorCount(), script::ScpiInstrument::kErrorQueue);
    for (std::size_t i = 0; i + 1 < script::ScpiInstrument::kErrorQueue; ++i) {
        EXPECT_EQ(instrument.line("SYST:ERR?"), "-113,\"Undefined header;NOPE\"");
    }
    EXPECT_EQ(instrument.line("SYST:ERR?"), "-350,\"Queue overflow\"");
    EXPECT_EQ(instrument.line("SYST:ERR?"), "0,\"No error\"");
    // Command errors (bit 5) and the overflow, a device-dependent error (bit 3).
    EXPECT_EQ(instrument.line("*ESR?"), std::to_string(0x80 | 0x20 | 0x08));
}

// The queries of a line too long to keep, counted as it passes: a header that
// ends in '?', before a space or ';' or the end; quotes are not looked at.
TEST(ScpiQueryCounter, CountsTheHeadersThatAsk) {
    for (const auto& [line, queries] : std::vector<std::pair<std::string, std::size_t>>{
             {"", 0}, {"*IDN?", 1}, {"WIP1 5", 0}, {"WIP1?;WIP2?", 2}, {"  MEAS? ;RUN", 1},
             {"WIP1 ?", 0}, {"WIP1 '5;SYST:ERR?", 1}, {";;*OPC?;", 1}, {"SYST:ERR?\t;*STB?", 2},
             {"WIP1? MIN", 1}, {"A?B", 0}}) {
        script::ScpiInstrument::QueryCounter counter;
        for (const char c : line) counter.feed(c);
        EXPECT_EQ(counter.count(), queries) << '"' << line << '"';
    }
}

TEST(ScpiErrors, BinaryOverrunAndAnOpenStringAreQueuedAndEveryQueryOfTheLineAnswered) {
    sim::Board board;
    script::ScpiInstrument instrument(commands::kDescriptorB, board, {"sim", "0.3.0"}, nullptr);
    EXPECT_EQ(instrument.line(std::string("WIP1 5\0\xff", 8)), std::nullopt);
    EXPECT_EQ(instrument.line(std::string("\x01*IDN?", 6)), nan);
    EXPECT_EQ(instrument.overrun(0), std::nullopt);
    // A line the client cannot know was dropped: each of its queries is still
    // answered, so that it never waits for its timeout. Once answered nothing.
    EXPECT_EQ(instrument.line("WIP1 '5;SYST:ERR?"), nan);
    EXPECT_EQ(instrument.line("*IDN?;WIP1 \"5;MEAS?;  WIP2?  3;*OPC"), nan + ";" + nan + ";" + nan);
    EXPECT_EQ(instrument.overrun(2), nan + ";" + nan);
    EXPECT_EQ(instrument.line("SYST:ERR?;ERR?;ERR?;ERR?;ERR?;ERR?"),
              "-101,\"Invalid character;byte 0x00 in a line; the line was dropped\";"
              "-101,\"Invalid character;byte 0x01 in a line; the line was dropped\";"
              "-363,\"Input buffer overrun;a line holds at most 4096 bytes; the line was dropped\";"
              "-102,\"Syntax error;a string is not closed; the line was dropped\";"
              "-102,\"Syntax error;a string is not closed; the line was dropped\";"
              "-363,\"Input buffer overrun;a line holds at most 4096 bytes; the line was dropped\"");
    EXPECT_EQ(board.wiper(1), 128);
}

}  // namespace

namespace {

// The header as typed: each segment in its short or long form, the optional
// ones left out or given, the numeric suffix at the top of its range.
std::string typed(std::string_view header, bool longForm, bool withOptional) {
    std::string out;
    bool optional = false;
    std::string segment;
    auto flush = [&] {
        if (segment.empty()) return;
        if (!optional || withOptional) {
            std::string name;
            std::string suffix;
            for (std::size_t i = 0; i < segment.size(); ++i) {
                const char c = segment[i];
                if (c == '<') {
                    const std::string range = segment.substr(i + 1, segment.find('>') - i - 1);
                    suffix = range.substr(range.find_last_of(".|") + 1);
                    break;
                }
                if (longForm || std::isupper(static_cast<unsigned char>(c))) name += c;
            }
            out += (out.empty() ? "" : ":") + name + suffix;
        }
        segment.clear();
    };
    for (const char c : header) {
        if (c == '[' || c == ']' || c == ':') {
            flush();
            if (c == '[') optional = true;
            if (c == ']') optional = false;
            continue;
        }
        segment += c;
    }
    flush();
    return out;
}

// Every row of the table the man page lists is a header the instrument takes,
// in every form; its set form wants a parameter exactly where the table names one.
TEST(ScpiTable, EveryRowParsesInEveryFormAsTheManPageWritesIt) {
    for (const script::ScpiCommand& row : script::scpiCommands()) {
        for (const bool longForm : {false, true}) {
            for (const bool withOptional : {false, true}) {
                sim::Board board;
                script::ScpiInstrument instrument(commands::kDescriptorB, board, {"sim", "0"}, nullptr);
                const std::string header = typed(row.header, longForm, withOptional);
                SCOPED_TRACE(header);
                if (row.query) {
                    // Answered (a display not yet written answers 9.91E37, with no error).
                    ASSERT_TRUE(instrument.line(header + "?"));
                }
                if (row.command) {
                    const std::string parameter(row.parameters.substr(0, row.parameters.find('|')));
                    instrument.line(header + (parameter.empty() ? "" : " " + (parameter == "N" ? "5" : parameter)));
                    if (!parameter.empty()) instrument.line(header);  // -109: wants its parameter
                } else {
                    instrument.line(header);  // -113: a query only
                }
                EXPECT_EQ(instrument.line("SYST:ERR:COUN?"), row.parameters.empty() && row.command ? "0" : "1");
            }
        }
    }
    // The bit panel's range is the frame's.
    sim::Board board;
    script::ScpiInstrument instrument(commands::kDescriptorB, board, {"sim", "0"}, nullptr);
    EXPECT_EQ(instrument.line("PAN:BIT" + std::to_string(controls::kBitCount - 1) + "?"), "0");
    EXPECT_EQ(instrument.line("PAN:BIT" + std::to_string(controls::kBitCount) + "?;SYST:ERR?"),
              "9.91E37;-114,\"Header suffix out of range;PAN:BIT45\"");
}

}  // namespace

// What both of serve's channels make of a client's bytes: a line at each LF,
// a CR before it dropped, an empty line answered with nothing, a line too
// long for the instrument counted rather than kept (-363, its queries still
// answered), and END ending a line as LF does.
TEST(ScpiLines, CutTheInputIntoLinesAsTheyEnd) {
    struct Case {
        const char* name;
        std::string input;
        bool end;                             // then END, as a VXI-11 write with END
        std::vector<std::optional<std::string>> answers;  // one per line that ended
        bool midLine;                         // a line left under way
    };
    const std::string tooLong = "WIP1 " + std::string(script::ScpiInstrument::kMaxLine, '1') + ";WIP1?";
    const std::vector<Case> cases = {
        {"LF", "WIP1 5\nWIP1?\n", false, {std::nullopt, "5"}, false},
        {"CRLF", "WIP1?\r\n", false, {"0"}, false},
        {"an empty line", "\n", false, {std::nullopt}, false},
        {"a line under way", "WIP1?", false, {}, true},
        {"END ends it", "WIP1?", true, {"0"}, false},
        {"END with nothing under way", "WIP1?\n", true, {"0"}, false},
        {"too long", tooLong + "\n", false, {"9.91E37"}, false},
        {"too long, under way", tooLong, false, {}, true},
    };
    for (const Case& c : cases) {
        sim::Board board;
        script::ScpiInstrument instrument(commands::kDescriptorB, board, {"sim", "0.8.0"}, nullptr);
        script::ScpiLines lines;
        std::vector<std::optional<std::string>> answers;
        for (const char ch : c.input) {
            std::optional<std::string> answer;
            if (lines.feed(ch, instrument, answer)) answers.push_back(answer);
        }
        std::optional<std::string> answer;
        if (c.end && lines.end(instrument, answer)) answers.push_back(answer);
        EXPECT_EQ(answers, c.answers) << c.name;
        EXPECT_EQ(lines.midLine(), c.midLine) << c.name;
    }
}
