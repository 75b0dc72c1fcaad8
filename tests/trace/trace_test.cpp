// The trace recorder: the text log line for line, the flushing, and the VCD as
// sigrok's two-wire decoder reads it.
#include "commands/descriptor.h"
#include "commands/program.h"
#include "frame_decoder.h"
#include "ports/options.h"
#include "ports/trace_port.h"
#include "recording_port.h"
#include "refusal.h"
#include "sim/board.h"
#include "worked_examples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempPath(const std::string& name) { return testing::TempDir() + "px77xx_" + name; }

std::string asText(const std::vector<Access>& accesses) {
    std::string text;
    char line[32];
    for (const auto& a : accesses) {
        if (a.read) {
            std::snprintf(line, sizeof line, "in 0x%x 0x%04x\n", a.port, a.value);
        } else {
            std::snprintf(line, sizeof line, "out 0x%x 0x%02x\n", a.port, a.value);
        }
        text += line;
    }
    return text;
}

TEST(TextTrace, OneProgramACodeChangeLineForLine) {
    const std::string path = tempPath("a.log");
    {
        auto inner = std::make_unique<RecordingPort>();
        inner->scriptSamples({1, 0, 0, 0, 0, 0, 0, 1});
        inner->idleStatus = 0xFF7F;
        ports::TracePort port(std::move(inner), path);
        commands::ProgramA a(port);
        a.controls().vsbInputCode1.setValue(128);
    }
    const std::vector<Access> expected = Seq().then(workedFrameA()).then(readBackSeq(0x10, {8, 0, 0, 0, 0, 0, 0, 8}));
    const std::string text = readFile(path);
    EXPECT_EQ(text, asText(expected));
    EXPECT_NE(text.find("out 0x378 0x13\nout 0x378 0x11\nin 0x379 0x0008\n"), std::string::npos);
}

TEST(TextTrace, EveryTransactionIsOnDiskWhenItEnds) {
    const std::string path = tempPath("b.log");
    ports::TracePort port(std::make_unique<sim::Board>(), path);
    commands::ProgramB b(port);
    b.controls().vsbInputCode2.setValue(3);
    const std::string frame = readFile(path);
    EXPECT_EQ(std::count(frame.begin(), frame.end(), '\n'), 59);
    b.cmdSHDN_Click();
    const std::string shutdown = readFile(path);
    EXPECT_EQ(shutdown.substr(shutdown.size() - 15), "out 0x378 0xaf\n");
    b.cmdRead_Click();
    const std::string text = readFile(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 59 + 1 + 59 + 48);
    EXPECT_EQ(text.substr(text.size() - 15), "out 0x378 0xf3\n");
}

TEST(TextTrace, AnUnwritableFileIsReportedAtOnce) {
    try {
        ports::TracePort port(std::make_unique<sim::Board>(), "/nonexistent-dir/trace.log");
        FAIL() << "no error";
    } catch (const ports::ConfigError& e) {
        EXPECT_STREQ(e.what(), "trace /nonexistent-dir/trace.log: cannot open for writing: No such file or directory");
    }
}

TEST(TextTrace, AFailedAccessIsNotRecorded) {
    const std::string path = tempPath("fail.log");
    {
        auto inner = std::make_unique<RecordingPort>();
        inner->failAt = 2;
        ports::TracePort port(std::move(inner), path);
        port.OutportW(0x378, 0x13);
        EXPECT_THROW(port.OutportW(0x378, 0x12), bus::PortError);
    }
    EXPECT_EQ(readFile(path), "out 0x378 0x13\n");
}

// A full disk (/dev/full refuses every write) is reported once, naming the file
// and the reason, and the bus goes on as if nothing were recorded.
class FullDisk : public testing::TestWithParam<const ports::TraceFormatEntry*> {};

TEST_P(FullDisk, IsReportedOnceAndTheBusGoesOn) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    auto board = std::make_unique<sim::Board>();
    sim::Board& device = *board;
    ports::TracePort trace(std::move(board), full, *GetParam(), "/dev/full");
    auto program = commands::kDescriptorB.make(trace);
    program->controls().vsbInputCode2.setValue(200);
    program->cmdRead_Click();  // a whole read-back after the failure
    EXPECT_EQ(trace.takeFailure(), "trace /dev/full: write: No space left on device; recording stopped");
    EXPECT_EQ(trace.takeFailure(), std::nullopt);
    program->controls().vsbInputCode1.setValue(7);
    trace.close();
    EXPECT_EQ(trace.takeFailure(), std::nullopt);
    EXPECT_EQ(device.wiper(2), 200);
    EXPECT_EQ(device.wiper(1), 7);
    EXPECT_EQ(program->lastRead(), 200);
}

std::string formatName(const testing::TestParamInfo<const ports::TraceFormatEntry*>& info) {
    return std::string(info.param->extension.substr(1));
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FullDisk,
                         testing::ValuesIn(ports::traceFormats()),
                         formatName);

TEST(TraceFormats, ChosenByTheExtensionWhateverItsCase) {
    EXPECT_EQ(&ports::traceFormatFor("bus.txt"), &ports::kDecodedTrace);
    EXPECT_EQ(&ports::traceFormatFor("-"), &ports::kDecodedTrace);
    EXPECT_EQ(&ports::traceFormatFor("/tmp/a.b/BUS.VCD"), &ports::kWaveformTrace);
    EXPECT_EQ(&ports::traceFormatFor("bus.Log"), &ports::kAccessTrace);
    const std::string formats =
        "formats: .txt (decoded bus transactions; - for standard output), .log (one line per port access), .vcd "
        "(waveform)";
    for (const auto& [path, message] : std::vector<std::pair<std::string, std::string>>{
             {"bus.csv", "trace bus.csv: unknown extension '.csv'; " + formats},
             {"/tmp/v1.2/bus", "trace /tmp/v1.2/bus: no extension; " + formats}}) {
        EXPECT_EQ(testing_support::refusal([&] { (void)ports::traceFormatFor(path); }), message) << path;
    }
}

TEST(VcdTrace, DeclaresTheWiresWithExplicitStartValues) {
    const std::string path = tempPath("shdn.vcd");
    {
        ports::TracePort port(std::make_unique<sim::Board>(), path);
        commands::ProgramB b(port);
        b.cmdSHDN_Click();
    }
    const std::string vcd = readFile(path);
    for (const char* wire : {"$var wire 1 ! SCL $end", "$var wire 1 \" SDA $end", "$var wire 1 $ SDA_IN $end",
                             "$var wire 1 , DATA[7] $end", "$var wire 1 % DATA[0] $end", "$timescale 1 us $end"}) {
        EXPECT_NE(vcd.find(wire), std::string::npos) << wire;
    }
    EXPECT_NE(vcd.find("#0\n$dumpvars\n1!\n1\"\n1$\n1,\n"), std::string::npos);
    // 0xAF after the released 0xFF: D6 and D4 fall, at the first access.
    EXPECT_NE(vcd.find("#1\n0+\n0)\n#2\n"), std::string::npos) << vcd.substr(vcd.size() - 40);
}

// --- sigrok's decoder on our waveforms ---

std::vector<std::string> sigrokDecode(const std::string& vcd) {
    const std::string command = "sigrok-cli -I vcd -i '" + vcd + "' -P i2c:scl=SCL:sda=SDA -A i2c 2>&1";
    std::vector<std::string> annotations;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return annotations;
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::string prefix = "i2c-1: ";
        if (text.rfind(prefix, 0) == 0) text = text.substr(prefix.size());
        // Bit values and the read/write marker repeat what the byte annotations say.
        if (text == "0" || text == "1" || text == "Write" || text == "Read") continue;
        annotations.push_back(text);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return annotations;
}

bool haveSigrok() { return std::system("command -v sigrok-cli >/dev/null 2>&1") == 0; }

std::vector<std::string> decodeActions(const std::string& name, bool programA,
                                       const std::function<void(commands::Program&)>& act) {
    const std::string path = tempPath(name + ".vcd");
    {
        auto port = std::make_unique<ports::TracePort>(std::make_unique<sim::Board>(), path);
        auto program = commands::programs()[programA ? 0 : 1]->make(*port);
        act(*program);
    }
    return sigrokDecode(path);
}

class Sigrok : public testing::Test {
protected:
    void SetUp() override {
        if (haveSigrok()) return;
        if (std::getenv("CI") != nullptr) FAIL() << "CI installs sigrok-cli; it is missing";
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
};

using Lines = std::vector<std::string>;
const Lines kWriteHeader{"Start", "Address write: 2C", "ACK"};

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(Sigrok, ProgramBCodeChangesPresetsRunAndReadDecode) {
    const auto decoded = decodeActions("b_actions", false, [](commands::Program& p) {
        p.controls().vsbInputCode2.setValue(200);
        p.cmdCh1_Click();
        p.cmdFS_Click();
        p.cmdRun_Click();
        p.cmdRead_Click();
    });
    const Lines ch2_200 = concat({kWriteHeader, {"Data write: 80", "ACK", "Data write: C8", "ACK", "Stop"}});
    const Lines ch1_255 = concat({kWriteHeader, {"Data write: 00", "ACK", "Data write: FF", "ACK", "Stop"}});
    const Lines read = {"Start", "Address read: 2C", "ACK", "Data read: FF", "ACK", "Stop"};
    // Full Scale from 0 writes twice; Run once; Read writes again, then reads.
    EXPECT_EQ(decoded, concat({ch2_200, ch1_255, ch1_255, ch1_255, ch1_255, read}));
}

TEST_F(Sigrok, ProgramAFramesDecodeUpToTheDataByte) {
    // Debian's decoder, while it waits for an acknowledge, watches SCL alone: after
    // program A's data byte, which has no ninth clock, it loses its place. So each
    // frame is decoded from a file of its own, up to and including the data byte.
    struct Row {
        const char* name;
        std::function<void(commands::Program&)> act;
        const char* address;
        const char* instruction;
        const char* data;
    };
    const std::vector<Row> rows{
        {"a_ch1_200", [](auto& p) { p.controls().vsbInputCode1.setValue(200); }, "Address write: 2C", "Data write: 00", "Data write: C8"},
        {"a_ch2_201", [](auto& p) { p.controls().vsbInputCode2.setValue(201); }, "Address write: 2C", "Data write: 80", "Data write: C9"},
        {"a_zero_scale", [](auto& p) { p.cmdZS_Click(); }, "Address write: 2C", "Data write: 00", "Data write: 00"},
        {"a_run_ch2", [](auto& p) {
             p.cmdCh2_Click();
             p.cmdRun_Click();
         }, "Address write: 00", "Data write: 80", "Data write: 00"},  // the panel's address is still empty
    };
    for (const auto& row : rows) {
        const auto decoded = decodeActions(row.name, true, row.act);
        const Lines expected = concat({{"Start", row.address, "ACK"}, {row.instruction, "ACK", row.data}});
        ASSERT_GE(decoded.size(), expected.size()) << row.name;
        EXPECT_EQ(Lines(decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected)
            << row.name;
    }
}

}  // namespace
