// The simulated board, on its own and under both programs' handlers.
#include "bus/transactions.h"
#include "commands/descriptor.h"
#include "commands/program.h"
#include "sim/board.h"
#include "table.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(Board, DecodesAProgramBFrame) {
    sim::Board board;
    bus::writeFrame(board, bus::kFrameB, 0x2C201FE);  // channel 2, code 255
    EXPECT_EQ(board.wiper(2), 255);
    EXPECT_EQ(board.wiper(1), sim::Board::kPowerOnCode);
    EXPECT_EQ(board.selectedChannel(), 2);
    ASSERT_EQ(board.totalTransactions(), 1U);
    const auto& t = board.lastTransaction();
    EXPECT_EQ(t.address, 0x58);
    EXPECT_TRUE(t.acknowledged);
    EXPECT_FALSE(t.read);
    EXPECT_TRUE(t.stopped);
    EXPECT_EQ(t.byteCount, 2U);
    EXPECT_EQ(t.bytes[0], 0x80);
    EXPECT_EQ(t.bytes[1], 0xFF);
    EXPECT_TRUE(board.scl());
    EXPECT_TRUE(board.sda());
}

TEST(Board, AcknowledgesItsAddressOnTheNinthClockOnly) {
    struct Row {
        std::uint8_t address;
        bool acknowledged;
    };
    for (Row row : {Row{0x58, true}, Row{0x59, true}, Row{0xD8, false}, Row{0x5A, false}}) {
        sim::Board board;
        board.OutportW(0x378, 0xF3);
        board.OutportW(0x378, 0xF2);  // start
        for (int bit = 7; bit >= 0; --bit) {
            const auto sda = static_cast<std::uint16_t>((row.address >> bit) & 1);
            board.OutportW(0x378, static_cast<std::uint16_t>(0xF0 | sda));
            board.OutportW(0x378, static_cast<std::uint16_t>(0xF2 | sda));
        }
        // The master releases SDA with SCL low: the device, if addressed, holds it low.
        board.OutportW(0x378, 0xF1);
        EXPECT_EQ(board.sda(), !row.acknowledged) << std::hex << int(row.address);
        EXPECT_EQ(board.InportW(0x379) & 0x08, row.acknowledged ? 0 : 0x08);
        board.OutportW(0x378, 0xF3);
        board.OutportW(0x378, 0xF1);  // ninth clock over: released
        EXPECT_TRUE(board.sda());
        EXPECT_EQ(board.lastTransaction().acknowledged, row.acknowledged);
    }
}

TEST(Board, AWriteMovingBothLinesIsNeverAStartOrStop) {
    sim::Board board;
    bus::writeFrame(board, bus::kFrameB, 0x2C00190);  // many 0xF2 -> 0xF1 and 0xF3 -> 0xF0 moves
    EXPECT_EQ(board.totalTransactions(), 1U);
    EXPECT_EQ(board.wiper(1), 200);
}

TEST(Board, StatusShowsOnlySdaOnBit3AndBadRegistersFail) {
    sim::Board board;
    EXPECT_EQ(board.InportW(0x379), sim::Board::kStatusIdleBits | 0x08);
    board.OutportW(0x378, 0x10);
    EXPECT_EQ(board.InportW(0x379), sim::Board::kStatusIdleBits);
    EXPECT_EQ(board.InportW(0x378), 0x10);
    EXPECT_THROW(board.OutportW(0x37A, 0), bus::PortError);
    EXPECT_THROW(board.InportW(0x37A), bus::PortError);
}

TEST(Board, ShutdownWhileD4IsLow) {
    sim::Board board;
    EXPECT_FALSE(board.shutdown());
    board.OutportW(0x378, 0xAF);
    EXPECT_TRUE(board.shutdown());
    board.OutportW(0x378, 0xF3);
    EXPECT_FALSE(board.shutdown());
}

TEST(Board, KeepsTheLastTransactions) {
    sim::Board board;
    for (std::uint32_t code = 0; code < 20; ++code) bus::writeFrame(board, bus::kFrameB, 0x2C00000 | (code << 1));
    EXPECT_EQ(board.totalTransactions(), 20U);
    ASSERT_EQ(board.transactionCount(), sim::Board::kHistory);
    EXPECT_EQ(board.transaction(0).bytes[1], 4);
    EXPECT_EQ(board.lastTransaction().bytes[1], 19);
}

// --- Both programs driving the board ---

TEST(OnTheBoard, ProgramACode200OnEachChannelSetsTheWiperAndReadsItBack) {
    for (int channel : {1, 2}) {
        sim::Board board;
        commands::ProgramA a(board);
        auto& c = a.controls();
        (channel == 1 ? c.vsbInputCode1 : c.vsbInputCode2).setValue(200);
        EXPECT_EQ(board.wiper(channel), 200);
        EXPECT_EQ(board.wiper(3 - channel), sim::Board::kPowerOnCode);
        EXPECT_EQ(c.txtSDA_Data.Text(), "200");
        // 200 = 1100 1000 on the read row, most significant bit at 34.
        for (int k = 27; k <= 34; ++k) {
            const int expected = (200 >> (k - 27)) & 1;
            EXPECT_EQ(c.vsbBit[static_cast<std::size_t>(k)].Value(), expected) << k;
            EXPECT_EQ(c.txtBit[static_cast<std::size_t>(k)].Text(), expected ? "1" : "0") << k;
        }
        // The 26-bit frame carries no ninth clock for the code, yet it took effect.
        EXPECT_EQ(board.transaction(board.transactionCount() - 2).bytes[1], 200);
    }
}

TEST(OnTheBoard, ProgramBReadReturnsTheSelectedWiper) {
    sim::Board board;
    commands::ProgramB b(board);
    auto& c = b.controls();
    c.vsbInputCode1.setValue(17);
    c.vsbInputCode2.setValue(200);
    b.cmdRead_Click();
    EXPECT_EQ(c.txtSDA_Data.Text(), "200");
    b.cmdCh1_Click();
    b.cmdMS_Click();
    b.cmdRead_Click();
    EXPECT_EQ(c.txtSDA_Data.Text(), "128");
    EXPECT_EQ(board.wiper(2), 200);
    EXPECT_TRUE(board.lastTransaction().read);
    EXPECT_TRUE(board.lastTransaction().acknowledged);
}

struct PresetCase {
    std::string name;
    bool programA;
    int channel;
    std::function<void(commands::Program&)> press;
    int code;
};

class PresetsOnTheBoard : public testing::TestWithParam<PresetCase> {};

TEST_P(PresetsOnTheBoard, LandOnTheSelectedWiper) {
    const auto& row = GetParam();
    sim::Board board;
    auto program = commands::programs()[row.programA ? 0 : 1]->make(board);
    (row.channel == 1 ? program->controls().vsbInputCode1 : program->controls().vsbInputCode2).setValue(33);
    row.press(*program);
    EXPECT_EQ(board.wiper(row.channel), row.code);
    EXPECT_TRUE(board.lastTransaction().acknowledged);
}

const auto zs = [](commands::Program& p) { p.cmdZS_Click(); };
const auto ms = [](commands::Program& p) { p.cmdMS_Click(); };
const auto fs = [](commands::Program& p) { p.cmdFS_Click(); };

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, PresetsOnTheBoard,
    testing::Values(PresetCase{"A_zero_ch1", true, 1, zs, 0}, PresetCase{"A_mid_ch1", true, 1, ms, 128},
                    PresetCase{"A_full_ch1", true, 1, fs, 255}, PresetCase{"A_zero_ch2", true, 2, zs, 0},
                    PresetCase{"A_mid_ch2", true, 2, ms, 128}, PresetCase{"A_full_ch2", true, 2, fs, 255},
                    PresetCase{"B_zero_ch1", false, 1, zs, 0}, PresetCase{"B_mid_ch1", false, 1, ms, 128},
                    PresetCase{"B_full_ch1", false, 1, fs, 255}, PresetCase{"B_zero_ch2", false, 2, zs, 0},
                    PresetCase{"B_mid_ch2", false, 2, ms, 128}, PresetCase{"B_full_ch2", false, 2, fs, 255}),
    testing_support::RowName());

TEST(OnTheBoard, ShutdownLastsUntilTheNextFrame) {
    sim::Board board;
    commands::ProgramB b(board);
    b.controls().vsbInputCode1.setValue(90);
    b.cmdSHDN_Click();
    EXPECT_TRUE(board.shutdown());
    EXPECT_EQ(board.wiper(1), 90);  // the wipers keep their codes
    b.cmdRun_Click();
    EXPECT_FALSE(board.shutdown());
}

TEST(OnTheBoard, AFrameWithAnotherSlaveAddressIsIgnoredButTheReadBackStillAnswers) {
    sim::Board board;
    commands::ProgramA a(board);
    auto& c = a.controls();
    c.vsbInputCode1.setValue(50);
    c.vsbBit[25].setValue(1);  // address byte 0xD8: not this device
    c.vsbBit[0].setValue(1);
    const std::size_t before = board.totalTransactions();
    a.cmdRun_Click();
    EXPECT_EQ(board.wiper(1), 50);
    ASSERT_EQ(board.totalTransactions(), before + 2);
    EXPECT_FALSE(board.transaction(board.transactionCount() - 2).acknowledged);
    EXPECT_EQ(board.transaction(board.transactionCount() - 2).address, 0xD8);
    EXPECT_TRUE(board.lastTransaction().acknowledged);
    EXPECT_EQ(c.txtSDA_Data.Text(), "50");
}

// Guards a fixed fault: a read-back ends with the master's acknowledge low (asking
// for more) and then a stop; the next read-back must not start sending early.
TEST(OnTheBoard, ReadBackAfterReadBackLeavesTheBusIdle) {
    sim::Board board;
    auto a = commands::kDescriptorA.make(board);
    a->cmdZS_Click();  // ends with a read-back of code 0: SDA driven low for every bit
    a->cmdRead_Click();
    EXPECT_EQ(a->lastRead(), 0);
    EXPECT_TRUE(board.scl());
    EXPECT_TRUE(board.sda());
}

TEST(OnTheBoard, WithNothingAnsweringEveryReadBackShows255) {
    sim::Board board(false);
    commands::ProgramA a(board);
    a.controls().vsbInputCode1.setValue(7);
    EXPECT_EQ(a.controls().txtSDA_Data.Text(), "255");
    a.cmdRead_Click();
    EXPECT_EQ(a.controls().txtSDA_Data.Text(), "255");
    EXPECT_EQ(board.totalTransactions(), 0U);

    sim::Board empty(false);
    commands::ProgramB b(empty);
    b.cmdRead_Click();
    EXPECT_EQ(b.controls().txtSDA_Data.Text(), "255");
}

}  // namespace
