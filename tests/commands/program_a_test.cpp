// Program A's handlers: every frame followed by a read-back, presets that edit
// the panel and run it.
#include "commands/program.h"
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

struct ProgramAFixture : testing::Test {
    RecordingPort port;
    commands::ProgramA a{port};
    controls::Controls& c = a.controls();
};

TEST_F(ProgramAFixture, StartsWithNothingWrittenAndFormLoadDoesNothing) {
    a.Form_Load();
    EXPECT_TRUE(port.log.empty());
    EXPECT_EQ(a.frameWord(), 0U);
    EXPECT_EQ(a.inputCode(), 0);
    c.forEachTextBox([](controls::TextBox& box) { EXPECT_FALSE(box.written()); });
}

TEST_F(ProgramAFixture, Code128OnChannel1WritesTheWorkedExampleThenTheReadBack) {
    port.scriptSamples({1, 0, 0, 0, 0, 0, 0, 0});
    c.vsbInputCode1.setValue(128);
    std::vector<Access> expected = Seq().then(workedFrameA()).then(readBackSeq(0x10, {8, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(expected.size(), 56U + 48U);
    EXPECT_EQ(port.log, expected);
    EXPECT_EQ(a.frameWord(), 0x1600080U);
    EXPECT_EQ(c.txtSDA_Data.Text(), "128");
}

struct CodeCase {
    std::string name;
    int channel;
    int code;
    std::uint32_t word;
};

class ProgramACodeEntry : public testing::TestWithParam<CodeCase> {};

TEST_P(ProgramACodeEntry, WritesOneFrameAndShowsCodeAndChannel) {
    const auto& row = GetParam();
    RecordingPort port;
    commands::ProgramA a(port);
    auto& c = a.controls();
    auto& bar = row.channel == 1 ? c.vsbInputCode1 : c.vsbInputCode2;
    bar.setValue(77);  // so that code 0 is a change too
    port.log.clear();
    bar.setValue(row.code);
    EXPECT_EQ(framesA(port.log), std::vector<std::uint32_t>{row.word});
    EXPECT_EQ(port.log.size(), 104U);
    EXPECT_EQ(a.frameWord(), row.word);
    EXPECT_EQ(a.inputCode(), row.code);
    EXPECT_EQ((row.channel == 1 ? c.txtDisplay1 : c.txtDisplay2).Text(), std::to_string(row.code));
    EXPECT_FALSE((row.channel == 1 ? c.txtDisplay2 : c.txtDisplay1).written());
    EXPECT_EQ(c.txtCh_Write_Display.Text(), std::to_string(row.channel));
    EXPECT_EQ(c.txtCh_Read_Display.Text(), std::to_string(row.channel));
    // The panel shows the frame written: address, channel select, data byte.
    std::uint32_t panel = 0;
    for (int k = 0; k <= 25; ++k) panel |= static_cast<std::uint32_t>(bitOf(a, k)) << k;
    EXPECT_EQ(panel, row.word);
    expectPanelConsistent(a);
}

INSTANTIATE_TEST_SUITE_P(Codes, ProgramACodeEntry,
                         testing::Values(CodeCase{"ch1_0", 1, 0, 0x1600000}, CodeCase{"ch1_128", 1, 128, 0x1600080},
                                         CodeCase{"ch1_200", 1, 200, 0x16000C8}, CodeCase{"ch1_255", 1, 255, 0x16000FF},
                                         CodeCase{"ch2_0", 2, 0, 0x1610000}, CodeCase{"ch2_128", 2, 128, 0x1610080},
                                         CodeCase{"ch2_200", 2, 200, 0x16100C8}, CodeCase{"ch2_255", 2, 255, 0x16100FF}),
                         RowName());

TEST_F(ProgramAFixture, OperatorInstructionBitsStayOnThePanelButAreNotWritten) {
    for (int k = 9; k <= 13; ++k) c.vsbBit[static_cast<std::size_t>(k)].setValue(1);
    c.vsbInputCode1.setValue(5);
    EXPECT_EQ(framesA(port.log), std::vector<std::uint32_t>{0x1600005});
    EXPECT_EQ(setBits(a, 9, 13), (std::vector<int>{9, 10, 11, 12, 13}));
}

TEST_F(ProgramAFixture, SecondChannelLeavesTheFirstAlone) {
    c.vsbInputCode1.setValue(40);
    c.vsbInputCode2.setValue(41);
    EXPECT_EQ(c.vsbInputCode1.Value(), 40);
    EXPECT_EQ(c.txtDisplay1.Text(), "40");
    EXPECT_EQ(c.txtCh_Write_Display.Text(), "2");
    EXPECT_EQ(c.txtCh_Read_Display.Text(), "2");
    EXPECT_EQ(bitOf(a, 16), 1);
}

struct PresetCase {
    std::string name;
    std::function<void(commands::ProgramA&)> setup;
    std::function<void(commands::ProgramA&)> press;
    std::vector<std::uint32_t> frames;
    std::vector<int> panelAfter;  // positions 0..25 holding 1
};

class ProgramAPreset : public testing::TestWithParam<PresetCase> {};

TEST_P(ProgramAPreset, WritesTheFramesAndLeavesThePanel) {
    const auto& row = GetParam();
    RecordingPort port;
    commands::ProgramA a(port);
    row.setup(a);
    port.log.clear();
    row.press(a);
    EXPECT_EQ(framesA(port.log), row.frames);
    EXPECT_EQ(port.log.size(), 104U * row.frames.size());
    EXPECT_EQ(setBits(a, 0, 25), row.panelAfter);
    EXPECT_EQ(a.frameWord(), row.frames.back());
    expectPanelConsistent(a);
}

void nothing(commands::ProgramA&) {}
std::vector<int> with(std::vector<int> bits, std::initializer_list<int> more) {
    bits.insert(bits.end(), more);
    std::sort(bits.begin(), bits.end());
    return bits;
}
const std::vector<int> kAddress{21, 22, 24};  // 0x58 on positions 25..18

INSTANTIATE_TEST_SUITE_P(
    Presets, ProgramAPreset,
    testing::Values(
        PresetCase{"zero_right_after_start_writes_once", nothing, [](auto& a) { a.cmdZS_Click(); }, {0x1600000},
                   kAddress},
        PresetCase{"full_from_10_writes_twice", [](auto& a) { a.controls().vsbInputCode1.setValue(10); },
                   [](auto& a) { a.cmdFS_Click(); }, {0x16000FF, 0x16000FF},
                   with(kAddress, {0, 1, 2, 3, 4, 5, 6, 7})},
        // Code already 128: no change handler; Run writes what the panel holds, operator bit 13 included.
        PresetCase{"mid_at_128_keeps_operator_bits",
                   [](auto& a) {
                       a.controls().vsbInputCode1.setValue(128);
                       a.controls().vsbBit[13].setValue(1);
                   },
                   [](auto& a) { a.cmdMS_Click(); }, {0x1602080}, with(kAddress, {7, 13})},
        // The preset itself sets position 7 when no change handler runs.
        PresetCase{"mid_at_128_restores_cleared_position_7",
                   [](auto& a) {
                       a.controls().vsbInputCode1.setValue(128);
                       a.controls().vsbBit[7].setValue(0);
                   },
                   [](auto& a) { a.cmdMS_Click(); }, {0x1600080}, with(kAddress, {7})},
        PresetCase{"mid_on_channel_2_moves_code_2", [](auto& a) { a.cmdCh2_Click(); },
                   [](auto& a) { a.cmdMS_Click(); }, {0x1610080, 0x1610080}, with(kAddress, {7, 16})},
        // Operator edits outside the preset's positions go out with it.
        PresetCase{"zero_writes_operator_address_bits",
                   [](auto& a) {
                       a.controls().vsbBit[25].setValue(1);
                       a.controls().vsbBit[7].setValue(1);
                   },
                   [](auto& a) { a.cmdZS_Click(); }, {0x3600000}, with(kAddress, {25})}),
    RowName());

TEST_F(ProgramAFixture, PresetOnChannel2LeavesChannel1Alone) {
    c.vsbInputCode1.setValue(3);
    a.cmdCh2_Click();
    a.cmdFS_Click();
    EXPECT_EQ(c.vsbInputCode1.Value(), 3);
    EXPECT_EQ(c.txtDisplay1.Text(), "3");
    EXPECT_EQ(c.vsbInputCode2.Value(), 255);
    EXPECT_EQ(c.txtDisplay2.Text(), "255");
}

TEST_F(ProgramAFixture, ZeroScaleRightAfterStartShowsNoCodeOrChannel) {
    a.cmdZS_Click();
    EXPECT_FALSE(c.txtDisplay1.written());
    EXPECT_FALSE(c.txtCh_Write_Display.written());
    EXPECT_FALSE(c.txtCh_Read_Display.written());
}

TEST_F(ProgramAFixture, RunStoresTheAssembledDataByteAndWord) {
    for (int k : {24, 22, 21, 17, 3}) c.vsbBit[static_cast<std::size_t>(k)].setValue(1);
    a.cmdRun_Click();
    EXPECT_EQ(a.inputCode(), 8);
    EXPECT_EQ(a.frameWord(), 0x1600008U);
    EXPECT_EQ(framesA(port.log), std::vector<std::uint32_t>{0x1600008});
}

struct ReadCase {
    std::string name;
    std::vector<int> samples;
    std::string shown;
    std::vector<int> dataBitsSet;  // read-row positions 27..34 holding 1
};

class ProgramARead : public testing::TestWithParam<ReadCase> {};

TEST_P(ProgramARead, ReadAloneIsOneTransactionAndFillsTheReadRow) {
    const auto& row = GetParam();
    RecordingPort port;
    commands::ProgramA a(port);
    for (int s : row.samples) port.status.push_back(s ? 0x0008 : 0x0000);
    a.cmdRead_Click();
    std::vector<std::uint16_t> answers;
    for (int s : row.samples) answers.push_back(s ? 0x0008 : 0x0000);
    EXPECT_EQ(port.log, readBackSeq(0x10, answers));
    EXPECT_EQ(a.controls().txtSDA_Data.Text(), row.shown);
    EXPECT_EQ(setBits(a, 27, 34), row.dataBitsSet);
    // Address 0x59 on 43..36, acknowledge 35 at 0, acknowledge 44 at 1.
    EXPECT_EQ(setBits(a, 35, 44), (std::vector<int>{36, 39, 40, 42, 44}));
    // The transaction writes every text of the read row itself.
    for (int k = 27; k <= 44; ++k) {
        EXPECT_EQ(textOf(a, k), bitOf(a, k) ? "1" : "0") << k;
    }
    EXPECT_FALSE(a.controls().txtCh_Read_Display.written());
}

INSTANTIATE_TEST_SUITE_P(Samples, ProgramARead,
                         testing::Values(ReadCase{"all_ones", {1, 1, 1, 1, 1, 1, 1, 1}, "255", {27, 28, 29, 30, 31, 32, 33, 34}},
                                         ReadCase{"all_zeros", {0, 0, 0, 0, 0, 0, 0, 0}, "0", {}},
                                         ReadCase{"msb_only", {1, 0, 0, 0, 0, 0, 0, 0}, "128", {34}},
                                         ReadCase{"lsb_only", {0, 0, 0, 0, 0, 0, 0, 1}, "1", {27}}),
                         RowName());

TEST_F(ProgramAFixture, OperatorAcknowledgeInTheReadRowIsOverwrittenBeforeTheAddressPhase) {
    c.vsbBit[35].setValue(1);
    c.vsbBit[44].setValue(0);
    a.cmdRead_Click();
    EXPECT_EQ(port.log, readBackSeq(0x10, std::vector<std::uint16_t>(8, 0)));
    EXPECT_EQ(bitOf(a, 35), 0);
}

TEST_F(ProgramAFixture, ReadRowKeepsTheLastByteUntilTheNextReadBack) {
    port.scriptSamples({1, 1, 0, 0, 1, 0, 0, 0});  // 200
    c.vsbInputCode1.setValue(200);
    a.cmdCh2_Click();
    EXPECT_EQ(c.txtSDA_Data.Text(), "200");
    EXPECT_EQ(setBits(a, 27, 34), (std::vector<int>{30, 33, 34}));
}

TEST_F(ProgramAFixture, ExitAsksTheOwnerAndWritesNothing) {
    int exits = 0;
    a.setExitHandler([&] { ++exits; });
    a.cmdExit_Click();
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(port.log.empty());
}

}  // namespace
