// The frame writer and the read-back bus phase, compared access by access with
// the bus tables.
#include "bus/lines.h"
#include "bus/transactions.h"
#include "frame_decoder.h"
#include "recording_port.h"
#include "table.h"
#include "worked_examples.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::Access;
using testing_support::RecordingPort;
using testing_support::Seq;

TEST(FrameWriter, ProgramAWorkedExampleCode128Channel1) {
    RecordingPort port;
    bus::writeFrame(port, bus::kFrameA, 0x1600080);
    ASSERT_EQ(testing_support::workedFrameA().size(), 56U);
    EXPECT_EQ(port.log, testing_support::workedFrameA());
}

TEST(FrameWriter, ProgramBWorkedExample0x2C00100) {
    RecordingPort port;
    bus::writeFrame(port, bus::kFrameB, 0x2C00100);
    ASSERT_EQ(testing_support::workedFrameB().size(), 59U);
    EXPECT_EQ(port.log, testing_support::workedFrameB());
}

// Checked, SDA must be high on the idle bus and at the end of a byte sent as
// all ones (the master released it throughout); low there is a bus held down,
// which the slots would read as acknowledges.
struct HeldCase {
    std::string name;
    std::vector<int> samples;  // idle, address slot, instruction slot, after 0xff, last slot
    bool stuck;
    std::size_t writes;
};

class CheckedFrame : public testing::TestWithParam<HeldCase> {};

TEST_P(CheckedFrame, TellsAStuckBusFromAnAcknowledge) {
    RecordingPort port;
    for (const int b : GetParam().samples) port.scriptSamples({b});
    const std::uint32_t slots = (1U << 18) | (1U << 9) | 1U;
    const std::uint32_t code255 = 0x2C001FE;
    if (GetParam().stuck) {
        EXPECT_THROW(bus::writeFrame(port, bus::kFrameB, code255, slots), bus::BusStuck);
    } else {
        EXPECT_NO_THROW(bus::writeFrame(port, bus::kFrameB, code255, slots));
    }
    std::vector<Access> writes;
    for (const Access& a : port.log) {
        if (!a.read) writes.push_back(a);
    }
    ASSERT_EQ(writes.size(), GetParam().writes);
    if (writes.size() > 3) {
        // Ended with a stop either way.
        EXPECT_EQ(std::vector<Access>(writes.end() - 3, writes.end()),
                  (std::vector<Access>{testing_support::W(0xF0), testing_support::W(0xF2), testing_support::W(0xF3)}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    HeldLow, CheckedFrame,
    testing::Values(HeldCase{"free", {1, 0, 0, 1, 0}, false, 59U},
                    HeldCase{"held_before_the_start", {0}, true, 1U},
                    HeldCase{"held_through_the_code_255", {1, 0, 0, 0}, true, 2U + 2U * 26U + 3U}),
    testing_support::RowName());

struct FrameCase {
    std::string name;
    const bus::FrameFormat* format;
    std::uint32_t word;
    std::vector<Access> expected;
};

class FrameEdges : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameEdges, WritesExactly) {
    RecordingPort port;
    bus::writeFrame(port, *GetParam().format, GetParam().word);
    EXPECT_EQ(port.log, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, FrameEdges,
    testing::Values(
        FrameCase{"A_zero", &bus::kFrameA, 0, Seq().w({0x13, 0x12}).repeat(26, {0x10, 0x12}).w({0x12, 0x13})},
        FrameCase{"B_zero", &bus::kFrameB, 0, Seq().w({0xF3, 0xF2}).repeat(27, {0xF0, 0xF2}).w({0xF0, 0xF2, 0xF3})},
        // After a last bit of 1 the closing 0x12 is itself an SDA fall with SCL high.
        FrameCase{"A_all_set", &bus::kFrameA, 0x3FFFFFF,
                  Seq().w({0x13, 0x12}).repeat(26, {0x11, 0x13}).w({0x12, 0x13})},
        FrameCase{"B_all_set", &bus::kFrameB, 0x7FFFFFF,
                  Seq().w({0xF3, 0xF2}).repeat(27, {0xF1, 0xF3}).w({0xF0, 0xF2, 0xF3})},
        FrameCase{"A_bit_above_frame_ignored", &bus::kFrameA, 0x4000000,
                  Seq().w({0x13, 0x12}).repeat(26, {0x10, 0x12}).w({0x12, 0x13})},
        FrameCase{"B_bit_above_frame_ignored", &bus::kFrameB, 0x8000000,
                  Seq().w({0xF3, 0xF2}).repeat(27, {0xF0, 0xF2}).w({0xF0, 0xF2, 0xF3})},
        // Bit order: only the first bit sent (the top of the frame) is set.
        FrameCase{"A_top_bit_first", &bus::kFrameA, 0x2000000,
                  Seq().w({0x13, 0x12}).w({0x11, 0x13}).repeat(25, {0x10, 0x12}).w({0x12, 0x13})},
        FrameCase{"B_bottom_bit_last", &bus::kFrameB, 0x1,
                  Seq().w({0xF3, 0xF2}).repeat(26, {0xF0, 0xF2}).w({0xF1, 0xF3}).w({0xF0, 0xF2, 0xF3})}),
    testing_support::RowName());

struct ReadCase {
    std::string name;
    std::vector<std::uint16_t> status;
    int value;
};

class ReadBack : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadBack, SamplesStatusBit3MostSignificantFirst) {
    for (const auto* codes : {&bus::kCodesA, &bus::kCodesB}) {
        RecordingPort port;
        port.status.assign(GetParam().status.begin(), GetParam().status.end());
        const int value = bus::readBack(port, *codes, {0, 1, 0, 1, 1, 0, 0, 1, 0});
        EXPECT_EQ(value, GetParam().value);
        const auto expected = testing_support::readBackSeq((*codes)({false, false}), GetParam().status);
        ASSERT_EQ(expected.size(), 48U);
        EXPECT_EQ(port.log, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, ReadBack,
    testing::Values(ReadCase{"all_ones", {8, 8, 8, 8, 8, 8, 8, 8}, 255},
                    ReadCase{"all_zeros", {0, 0, 0, 0, 0, 0, 0, 0}, 0},
                    ReadCase{"first_sample_is_msb", {8, 0, 0, 0, 0, 0, 0, 0}, 128},
                    ReadCase{"last_sample_is_lsb", {0, 0, 0, 0, 0, 0, 0, 8}, 1},
                    // Only bit 3 counts, whatever the other bits of the word are.
                    ReadCase{"other_status_bits_ignored", {0xFFFF, 0xFFF7, 0x0008, 0x0000, 0xFFF7, 0xFFFF, 0xFFF7, 0x0008},
                             0b10100101}),
    testing_support::RowName());

TEST(ReadBack, AddressPhaseFollowsTheGivenBits) {
    RecordingPort port;
    bus::readBack(port, bus::kCodesA, {1, 0, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(port.log[2], testing_support::W(0x11));
    EXPECT_EQ(port.log[4], testing_support::W(0x10));
    EXPECT_EQ(port.log[18], testing_support::W(0x11));
    EXPECT_EQ(port.log[19], testing_support::W(0x13));
}

TEST(SdaSample, OnlyStatusBit3Counts) {
    struct Row {
        std::uint16_t status;
        int sda;
    };
    for (Row row : {Row{0x0008, 1}, Row{0xFFFF, 1}, Row{0xFFF7, 0}, Row{0x0000, 0}, Row{0x0080, 0}}) {
        RecordingPort port;
        port.status.push_back(row.status);
        EXPECT_EQ(bus::sampleSda(port), row.sda) << std::hex << row.status;
        EXPECT_EQ(port.log, std::vector<Access>{testing_support::R(row.status)});
    }
}

TEST(LineCodes, TablesOfBothPrograms) {
    EXPECT_EQ(bus::kCodesA.byLevels, (std::array<std::uint8_t, 4>{0x10, 0x11, 0x12, 0x13}));
    EXPECT_EQ(bus::kCodesB.byLevels, (std::array<std::uint8_t, 4>{0xF0, 0xF1, 0xF2, 0xF3}));
    EXPECT_EQ(bus::kCodesB({true, false}), 0xF2);
}

}  // namespace
