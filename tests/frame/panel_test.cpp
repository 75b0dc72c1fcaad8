// Frame assembly and bit-panel synchronisation of both programs, with the
// re-entrant cascade running as it does in the windows.
#include "event_log.h"
#include "frame/panel.h"
#include "table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

namespace {

using testing_support::Event;
using testing_support::EventLog;

struct Panel {
    const frame::Variant& v;
    controls::Controls c;
    EventLog log;

    // Bits set before the panel is bound, so that even acknowledge slots hold 1.
    explicit Panel(const frame::Variant& variant, const std::vector<int>& preset = {}) : v(variant) {
        for (int k : preset) c.vsbBit[static_cast<std::size_t>(k)].setValue(1);
        frame::bindPanel(c, v);
        c.setObserver(&log);
    }
    void set(int k, int value) { c.vsbBit[static_cast<std::size_t>(k)].setValue(value); }
    int value(int k) const { return c.vsbBit[static_cast<std::size_t>(k)].Value(); }
    std::string_view text(int k) const { return c.txtBit[static_cast<std::size_t>(k)].Text(); }
    std::pair<int, std::uint32_t> compute() {
        int data = -1;
        std::uint32_t word = 0xFFFFFFFF;
        frame::Compute_Frame_Word(c, v, data, word);
        return {data, word};
    }
    // Every mirrored text equals its bit and the data display shows the panel's byte.
    void expectConsistent() {
        for (int i = 0; i <= v.lastMirrored; ++i) EXPECT_EQ(text(i), value(i) ? "1" : "0") << "position " << i;
        int data = 0;
        for (int b = 0; b < 8; ++b) data |= value(v.dataShift + b) << b;
        EXPECT_EQ(c.txtSDA_Write.Text(), std::to_string(data));
        for (int slot : v.ackSlots) EXPECT_EQ(value(slot), 0) << "acknowledge slot " << slot;
    }
};

std::vector<int> range(int from, int to) {
    std::vector<int> r;
    for (int k = from; k <= to; ++k) r.push_back(k);
    return r;
}

struct AssemblyCase {
    std::string name;
    const frame::Variant* v;
    std::vector<int> bits;
    int data;
    std::uint32_t word;
};

class Assembly : public testing::TestWithParam<AssemblyCase> {};

TEST_P(Assembly, WordAndDataByteFromThePanel) {
    const auto& row = GetParam();
    Panel p(*row.v);
    for (int k : row.bits) p.c.vsbBit[static_cast<std::size_t>(k)].setValue(1);
    EXPECT_EQ(p.compute(), std::make_pair(row.data, row.word));
}

// Program A: address 0x58 on 25..18, channel select 16, data on 7..0.
// Program B: address 0x58 on 26..19, channel select 17, data on 8..1.
INSTANTIATE_TEST_SUITE_P(
    BothPrograms, Assembly,
    testing::Values(AssemblyCase{"A_empty", &frame::kProgramA, {}, 0, 0},
                    AssemblyCase{"B_empty", &frame::kProgramB, {}, 0, 0},
                    AssemblyCase{"A_ch2_data_FF", &frame::kProgramA, {24, 22, 21, 16, 7, 6, 5, 4, 3, 2, 1, 0}, 255,
                                 0x16100FF},
                    AssemblyCase{"B_ch2_data_80", &frame::kProgramB, {25, 23, 22, 17, 8}, 128, 0x2C20100},
                    AssemblyCase{"A_instruction_bits", &frame::kProgramA, {15, 9}, 0, 0x8200},
                    AssemblyCase{"B_data_lsb_is_position_1", &frame::kProgramB, {1}, 1, 0x2},
                    AssemblyCase{"A_read_row_not_in_word", &frame::kProgramA, {27, 34, 44}, 0, 0}),
    testing_support::RowName());

TEST(Assembly, EveryPositionSetGivesTheLargestWords) {
    // Bits set before binding, acknowledge slots included: their 1 never reaches a result.
    Panel a(frame::kProgramA, range(0, 44));
    EXPECT_EQ(a.compute(), std::make_pair(255, std::uint32_t{0x3FDFEFF}));
    Panel b(frame::kProgramB, range(0, 44));
    EXPECT_EQ(b.compute(), std::make_pair(255, std::uint32_t{0x7FBFDFE}));
    for (Panel* p : {&a, &b}) {
        for (int slot : p->v.ackSlots) EXPECT_EQ(p->value(slot), 0);
    }
    // Program A's assembly writes the slots' mirrors itself; program B's does not.
    EXPECT_EQ(a.text(26), "0");
    EXPECT_EQ(a.text(17), "0");
}

struct SlotCase {
    std::string name;
    const frame::Variant* v;
    int slot;
};

class AcknowledgeSlot : public testing::TestWithParam<SlotCase> {};

TEST_P(AcknowledgeSlot, SetByTheOperatorSnapsBackWithoutChangingTheResults) {
    const auto& row = GetParam();
    Panel p(*row.v);
    for (int k : {row.v->channelSelect, row.v->dataShift + 7, row.v->dataShift}) p.set(k, 1);
    const auto before = p.compute();
    const std::string shown(p.c.txtSDA_Write.Text());
    p.set(row.slot, 1);
    EXPECT_EQ(p.value(row.slot), 0);
    EXPECT_EQ(p.text(row.slot), "0");
    EXPECT_EQ(p.c.txtSDA_Write.Text(), shown);
    EXPECT_EQ(p.compute(), before);
    p.expectConsistent();
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, AcknowledgeSlot,
                         testing::Values(SlotCase{"A_17", &frame::kProgramA, 17}, SlotCase{"A_8", &frame::kProgramA, 8},
                                         SlotCase{"A_26_outside_the_word", &frame::kProgramA, 26},
                                         SlotCase{"B_18", &frame::kProgramB, 18}, SlotCase{"B_9", &frame::kProgramB, 9},
                                         SlotCase{"B_0_never_makes_the_word_odd", &frame::kProgramB, 0}),
                         testing_support::RowName());

TEST(Cascade, AcknowledgeSlotIsMirroredBeforeTheNestedClear) {
    // Program B: the mirror shows the 1, the assembly clears it, and the nested
    // run mirrors the 0 before the outer run goes on.
    Panel p(frame::kProgramB);
    p.set(1, 1);
    p.log.events.clear();
    p.set(9, 1);
    EXPECT_EQ(p.log.events,
              (std::vector<Event>{{"vsbBit(9)", "1"}, {"txtBit(9)", "1"}, {"vsbBit(9)", "0"}, {"txtBit(9)", "0"}}));
}

TEST(Cascade, FirstChangeFillsMirrorsAscendingThenTheDataDisplay) {
    Panel p(frame::kProgramA);
    p.set(3, 1);
    std::vector<Event> expected{{"vsbBit(3)", "1"}};
    for (int i = 0; i <= 25; ++i) expected.push_back({"txtBit(" + std::to_string(i) + ")", i == 3 ? "1" : "0"});
    for (int slot : {17, 8, 26}) expected.push_back({"txtBit(" + std::to_string(slot) + ")", "0"});
    expected.push_back({"txtSDA_Write", "8"});
    // txtBit(17) and (8) were already "0": only 26 is news to the view.
    expected.erase(expected.end() - 4, expected.end() - 2);
    EXPECT_EQ(p.log.events, expected);
}

TEST(Cascade, AssigningTheHeldValueRaisesNothing) {
    for (const auto* v : {&frame::kProgramA, &frame::kProgramB}) {
        Panel p(*v);
        p.set(5, 1);
        p.log.events.clear();
        for (int k = 0; k < controls::kBitCount; ++k) p.set(k, p.value(k));
        EXPECT_TRUE(p.log.events.empty()) << v->program;
    }
}

TEST(Cascade, ProgramAMirrorsOnlyTheWritePositions) {
    Panel a(frame::kProgramA);
    a.set(30, 1);
    for (int i = 0; i <= 26; ++i) EXPECT_TRUE(a.c.txtBit[static_cast<std::size_t>(i)].written()) << i;
    for (int i = 27; i <= 44; ++i) EXPECT_FALSE(a.c.txtBit[static_cast<std::size_t>(i)].written()) << i;
    EXPECT_EQ(a.c.txtSDA_Write.Text(), "0");

    Panel b(frame::kProgramB);
    b.set(30, 1);
    b.expectConsistent();
    EXPECT_EQ(b.text(30), "1");
}

struct SpreadCase {
    std::string name;
    const frame::Variant* v;
    std::uint32_t source;  // InputCode (A) or FrameWord (B)
    std::vector<int> setAfter;
    std::string shown;
};

class Spreading : public testing::TestWithParam<SpreadCase> {};

TEST_P(Spreading, LeavesExactlyTheSourceBitsAndAConsistentPanel) {
    const auto& row = GetParam();
    Panel p(*row.v);
    // Bits outside the spread range stay; inside, everything is rewritten.
    for (int k : {20, 13, 5}) p.set(k, 1);
    if (row.v == &frame::kProgramA) {
        frame::Set_Data_Bits(p.c, static_cast<int>(row.source));
    } else {
        frame::Set_Frame_Bits(p.c, row.source);
    }
    const int n = row.v == &frame::kProgramA ? 8 : 27;
    std::vector<int> set;
    for (int k = 0; k < controls::kBitCount; ++k) {
        if (p.value(k) == 1) set.push_back(k);
    }
    std::vector<int> expected = row.setAfter;
    for (int k : {20, 13}) {
        if (k >= n) expected.push_back(k);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(set, expected);
    EXPECT_EQ(p.c.txtSDA_Write.Text(), row.shown);
    p.expectConsistent();
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, Spreading,
    testing::Values(SpreadCase{"A_code_0", &frame::kProgramA, 0, {}, "0"},
                    SpreadCase{"A_code_255", &frame::kProgramA, 255, range(0, 7), "255"},
                    SpreadCase{"A_code_128_only_position_7", &frame::kProgramA, 128, {7}, "128"},
                    SpreadCase{"A_code_above_255_keeps_low_bits", &frame::kProgramA, 0x1A5, {0, 2, 5, 7}, "165"},
                    SpreadCase{"B_ch1_code_128", &frame::kProgramB, 0x2C00100, {8, 22, 23, 25}, "128"},
                    SpreadCase{"B_ch2_code_255", &frame::kProgramB, 0x2C201FE,
                               {1, 2, 3, 4, 5, 6, 7, 8, 17, 22, 23, 25}, "255"},
                    SpreadCase{"B_acknowledge_bits_never_show", &frame::kProgramB, 0x2C40201, {22, 23, 25}, "0"},
                    SpreadCase{"B_bits_above_26_ignored", &frame::kProgramB, 0x8000004, {2}, "2"}),
    testing_support::RowName());

TEST(Spreading, ProgramACodeZeroOnAnUntouchedPanelChangesNothing) {
    Panel p(frame::kProgramA);
    frame::Set_Data_Bits(p.c, 0);
    EXPECT_TRUE(p.log.events.empty());
    EXPECT_FALSE(p.c.txtSDA_Write.written());
}

}  // namespace
