// Program B's handlers: a frame word spread over the whole panel, Read after a
// Run, and the shutdown code.
#include "commands/descriptor.h"
#include "commands/program.h"
#include "event_log.h"
#include "frame_decoder.h"
#include "program_checks.h"
#include "recording_port.h"
#include "table.h"
#include "worked_examples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

using namespace testing_support;

struct ProgramBFixture : testing::Test {
    RecordingPort port;
    commands::ProgramB b{port};
    controls::Controls& c = b.controls();
};

std::uint32_t panelWord(const commands::Program& p) {
    std::uint32_t word = 0;
    for (int k = 0; k <= 26; ++k) word |= static_cast<std::uint32_t>(bitOf(p, k)) << k;
    return word;
}

TEST_F(ProgramBFixture, Code128OnChannel1WritesTheWorkedExampleAndNoRead) {
    c.vsbInputCode1.setValue(128);
    EXPECT_EQ(port.log, workedFrameB());
    EXPECT_EQ(b.frameWord(), 0x2C00100U);
}

struct CodeCase {
    std::string name;
    int channel;
    int code;
    std::uint32_t word;
};

class ProgramBCodeEntry : public testing::TestWithParam<CodeCase> {};

TEST_P(ProgramBCodeEntry, WritesOneFrameAndThePanelShowsIt) {
    const auto& row = GetParam();
    RecordingPort port;
    commands::ProgramB b(port);
    auto& c = b.controls();
    auto& bar = row.channel == 1 ? c.vsbInputCode1 : c.vsbInputCode2;
    bar.setValue(77);
    c.vsbBit[12].setValue(1);  // operator bit: overwritten by the spread frame
    port.log.clear();
    bar.setValue(row.code);
    EXPECT_EQ(framesB(port.log), std::vector<std::uint32_t>{row.word});
    EXPECT_EQ(port.log.size(), 59U);
    EXPECT_EQ(b.frameWord(), row.word);
    EXPECT_EQ(b.inputCode(), row.code);
    EXPECT_EQ(panelWord(b), row.word);
    EXPECT_EQ(c.txtSDA_Write.Text(), std::to_string(row.code));
    EXPECT_EQ((row.channel == 1 ? c.txtDisplay1 : c.txtDisplay2).Text(), std::to_string(row.code));
    EXPECT_EQ(c.txtCh_Write_Display.Text(), std::to_string(row.channel));
    EXPECT_EQ(c.txtCh_Read_Display.Text(), std::to_string(row.channel));
    expectPanelConsistent(b);
}

INSTANTIATE_TEST_SUITE_P(Codes, ProgramBCodeEntry,
                         testing::Values(CodeCase{"ch1_0", 1, 0, 0x2C00000}, CodeCase{"ch1_128", 1, 128, 0x2C00100},
                                         CodeCase{"ch1_200", 1, 200, 0x2C00190}, CodeCase{"ch1_255", 1, 255, 0x2C001FE},
                                         CodeCase{"ch2_0", 2, 0, 0x2C20000}, CodeCase{"ch2_128", 2, 128, 0x2C20100},
                                         CodeCase{"ch2_200", 2, 200, 0x2C20190}, CodeCase{"ch2_255", 2, 255, 0x2C201FE}),
                         RowName());

struct PresetCase {
    std::string name;
    std::function<void(commands::ProgramB&)> setup;
    std::function<void(commands::ProgramB&)> press;
    std::vector<std::uint32_t> frames;
    int code1, code2;
    std::string display1, display2;
};

class ProgramBPreset : public testing::TestWithParam<PresetCase> {};

TEST_P(ProgramBPreset, WritesTheFramesAndThePanelShowsTheLast) {
    const auto& row = GetParam();
    RecordingPort port;
    commands::ProgramB b(port);
    row.setup(b);
    port.log.clear();
    row.press(b);
    EXPECT_EQ(framesB(port.log), row.frames);
    EXPECT_EQ(port.log.size(), 59U * row.frames.size());
    EXPECT_EQ(panelWord(b), row.frames.back());
    EXPECT_EQ(b.controls().vsbInputCode1.Value(), row.code1);
    EXPECT_EQ(b.controls().vsbInputCode2.Value(), row.code2);
    EXPECT_EQ(b.controls().txtDisplay1.Text(), row.display1);
    EXPECT_EQ(b.controls().txtDisplay2.Text(), row.display2);
    expectPanelConsistent(b);
}

void nothing(commands::ProgramB&) {}

INSTANTIATE_TEST_SUITE_P(
    Presets, ProgramBPreset,
    testing::Values(
        PresetCase{"zero_right_after_start_writes_once", nothing, [](auto& b) { b.cmdZS_Click(); }, {0x2C00000}, 0, 0,
                   "0", ""},
        PresetCase{"full_on_channel_2_from_10_writes_twice",
                   [](auto& b) { b.controls().vsbInputCode2.setValue(10); }, [](auto& b) { b.cmdFS_Click(); },
                   {0x2C201FE, 0x2C201FE}, 0, 255, "", "255"},
        PresetCase{"zero_at_0_writes_once_whatever_came_before",
                   [](auto& b) {
                       b.controls().vsbInputCode2.setValue(99);
                       b.controls().vsbInputCode1.setValue(0);
                       b.cmdCh1_Click();
                   },
                   [](auto& b) { b.cmdZS_Click(); }, {0x2C00000}, 0, 99, "0", "99"},
        PresetCase{"mid_on_channel_1_from_5", [](auto& b) { b.controls().vsbInputCode1.setValue(5); },
                   [](auto& b) { b.cmdMS_Click(); }, {0x2C00100, 0x2C00100}, 128, 0, "128", ""},
        PresetCase{"mid_after_ch2_button", [](auto& b) { b.cmdCh2_Click(); }, [](auto& b) { b.cmdMS_Click(); },
                   {0x2C20100, 0x2C20100}, 0, 128, "", "128"}),
    RowName());

TEST_F(ProgramBFixture, ZeroScaleRightAfterStartLeavesChannelDisplaysEmpty) {
    b.cmdZS_Click();
    EXPECT_FALSE(c.txtCh_Write_Display.written());
    EXPECT_FALSE(c.txtCh_Read_Display.written());
}

// Both programs: the channel buttons only move the channel select bit and the
// channel displays; Run then carries the bit in an otherwise empty frame.
class BothPrograms : public testing::TestWithParam<const commands::Descriptor*> {};

TEST_P(BothPrograms, ChannelButtonsWriteNothingAndRunCarriesTheBit) {
    RecordingPort port;
    auto p = GetParam()->make(port);
    auto& k = p->controls();
    const bool a = GetParam() == &commands::kDescriptorA;
    auto frames = [&] { return a ? framesA(port.log) : framesB(port.log); };
    p->cmdCh2_Click();
    EXPECT_TRUE(port.log.empty());
    EXPECT_EQ(k.txtCh_Write_Display.Text(), "2");
    EXPECT_EQ(k.txtCh_Read_Display.Text(), "2");
    p->cmdRun_Click();
    EXPECT_EQ(frames(), std::vector<std::uint32_t>{a ? 0x10000U : 0x20000U});
    port.log.clear();
    p->cmdCh1_Click();
    EXPECT_TRUE(port.log.empty());
    EXPECT_EQ(k.txtCh_Read_Display.Text(), "1");
    p->cmdRun_Click();
    EXPECT_EQ(frames(), std::vector<std::uint32_t>{0});
}

INSTANTIATE_TEST_SUITE_P(Programs, BothPrograms, testing::Values(&commands::kDescriptorA, &commands::kDescriptorB),
                         [](const testing::TestParamInfo<const commands::Descriptor*>& row) {
                             return std::string(row.param->key);
                         });

TEST_F(ProgramBFixture, ShutdownWritesItsCodeOncePerPressAndTheNextFrameRestoresTheBus) {
    b.cmdSHDN_Click();
    b.cmdSHDN_Click();
    EXPECT_EQ(port.log, (std::vector<Access>{W(0xAF), W(0xAF)}));
    b.cmdRun_Click();
    EXPECT_EQ(port.log[2], W(0xF3));
    EXPECT_EQ(framesB({port.log.begin() + 2, port.log.end()}), std::vector<std::uint32_t>{0});
    c.forEachTextBox([](controls::TextBox& box) { EXPECT_FALSE(box.written()); });
}

struct ReadCase {
    std::string name;
    std::vector<int> samples;
    std::string shown;
    std::vector<int> dataBitsSet;  // read-row positions 28..35 holding 1
};

class ProgramBRead : public testing::TestWithParam<ReadCase> {};

TEST_P(ProgramBRead, RunsTheFrameThenReadsAndMirrorsTheReadRow) {
    const auto& row = GetParam();
    RecordingPort port;
    commands::ProgramB b(port);
    b.controls().vsbInputCode2.setValue(200);
    port.log.clear();
    std::vector<std::uint16_t> answers;
    for (int s : row.samples) answers.push_back(s ? 0x0008 : 0x0000);
    port.status.assign(answers.begin(), answers.end());
    b.cmdRead_Click();
    const auto frame = decodeFrameB(port.log);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->word, 0x2C20190U);
    ASSERT_EQ(frame->end, 59U);
    EXPECT_EQ(std::vector<Access>(port.log.begin() + 59, port.log.end()), readBackSeq(0xF0, answers));
    EXPECT_EQ(port.log.size(), 59U + 48U);
    EXPECT_EQ(b.controls().txtSDA_Data.Text(), row.shown);
    EXPECT_EQ(setBits(b, 28, 35), row.dataBitsSet);
    // Address 0x59 on 44..37, acknowledge 36 at 0, acknowledge 27 at 1.
    std::vector<int> fixed = setBits(b, 36, 44);
    EXPECT_EQ(fixed, (std::vector<int>{37, 40, 41, 43}));
    EXPECT_EQ(bitOf(b, 27), 1);
    for (int k = 0; k <= 44; ++k) EXPECT_EQ(textOf(b, k), bitOf(b, k) ? "1" : "0") << k;
}

INSTANTIATE_TEST_SUITE_P(Samples, ProgramBRead,
                         testing::Values(ReadCase{"all_ones", {1, 1, 1, 1, 1, 1, 1, 1}, "255", {28, 29, 30, 31, 32, 33, 34, 35}},
                                         ReadCase{"all_zeros", {0, 0, 0, 0, 0, 0, 0, 0}, "0", {}},
                                         ReadCase{"msb_only", {1, 0, 0, 0, 0, 0, 0, 0}, "128", {35}},
                                         ReadCase{"lsb_only", {0, 0, 0, 0, 0, 0, 0, 1}, "1", {28}}),
                         RowName());

TEST_F(ProgramBFixture, ARepeatedReadThatChangesNoValueChangesNoDisplay) {
    b.cmdRead_Click();  // reads 0: the data bits never move
    EventLog log;
    c.setObserver(&log);
    b.cmdRead_Click();
    EXPECT_TRUE(log.events.empty());
    c.setObserver(nullptr);
}

TEST_F(ProgramBFixture, ARepeatedReadOfTheSameByteEndsWithTheSameTexts) {
    // The data bits are cleared and set again, so the mirrors move and come back.
    port.scriptSamples({0, 1, 1, 0, 0, 1, 0, 1});
    b.cmdRead_Click();
    std::vector<std::string> before;
    for (int k = 0; k <= 44; ++k) before.emplace_back(textOf(b, k));
    port.scriptSamples({0, 1, 1, 0, 0, 1, 0, 1});
    b.cmdRead_Click();
    for (int k = 0; k <= 44; ++k) EXPECT_EQ(textOf(b, k), before[static_cast<std::size_t>(k)]) << k;
    EXPECT_EQ(c.txtSDA_Data.Text(), "101");
}

TEST_F(ProgramBFixture, OnlyReadTouchesTheReadRowAndTheDataReadDisplay) {
    port.scriptSamples({1, 0, 1, 0, 1, 0, 1, 0});
    b.cmdRead_Click();
    struct Snapshot {
        std::vector<int> values;
        std::vector<std::string> texts;
        std::string data;
        bool operator==(const Snapshot&) const = default;
    };
    auto snapshot = [&] {
        Snapshot s;
        for (int k = 27; k <= 44; ++k) {
            s.values.push_back(bitOf(b, k));
            s.texts.emplace_back(textOf(b, k));
        }
        s.data = c.txtSDA_Data.Text();
        return s;
    };
    const Snapshot before = snapshot();
    port.log.clear();
    port.idleStatus = 0x0008;  // a read now would show 255
    c.vsbInputCode1.setValue(12);
    c.vsbInputCode2.setValue(250);
    b.cmdZS_Click();
    b.cmdMS_Click();
    b.cmdFS_Click();
    b.cmdCh1_Click();
    b.cmdRun_Click();
    b.cmdSHDN_Click();
    const Snapshot after = snapshot();
    EXPECT_EQ(after.values, before.values);
    EXPECT_EQ(after.texts, before.texts);
    EXPECT_EQ(after.data, before.data);
    EXPECT_TRUE(std::none_of(port.log.begin(), port.log.end(), [](const Access& a) { return a.read; }));
}

}  // namespace
