// The frame layouts of the two programs: where each field of the write frame sits
// on the bit panel and in the frame word, and where the read row is.
#pragma once

#include "bus/lines.h"
#include "bus/transactions.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace frame {

// Panel position k carries weight 2^k in the frame word. The write frame is,
// first sent first: address byte, acknowledge, instruction byte, acknowledge,
// data byte, acknowledge. Everything follows from where the data byte starts.
struct WriteLayout {
    int dataLow;
    constexpr int dataTop() const { return dataLow + 7; }
    constexpr int instructionAck() const { return dataLow + 8; }
    constexpr int channelSelect() const { return dataLow + 16; }  // the instruction byte's first bit
    constexpr int addressAck() const { return dataLow + 17; }
    constexpr int addressLow() const { return dataLow + 18; }
    constexpr int addressTop() const { return dataLow + 25; }
    constexpr std::uint32_t addressWord() const { return std::uint32_t{bus::kWriteAddressByte} << addressLow(); }
    constexpr std::uint32_t channelSelectBit() const { return std::uint32_t{1} << channelSelect(); }
};

// The read row, positions 27..44: the address byte and its acknowledge, then the
// byte read and the acknowledge after it. Where the data byte starts at the
// row's bottom, that last acknowledge wraps round to the row's top.
struct ReadLayout {
    static constexpr int kLow = 27;
    static constexpr int kTop = 44;
    int dataLow;
    constexpr int addressTop() const { return dataLow + 16; }
    constexpr int dataAck() const { return dataLow == kLow ? kTop : dataLow - 1; }
};

struct Variant {
    std::string_view program;
    bus::FrameFormat frame;
    int addressTop;                 // the address byte sits at addressTop..addressTop-7
    int channelSelect;              // 0 selects channel 1, 1 channel 2
    int dataShift;                  // the data byte sits at dataShift+7..dataShift
    std::array<int, 3> ackSlots;    // in the order they are cleared
    bool assemblyWritesAckTexts;    // program A's assembly writes the slots' mirrors itself
    int lastMirrored;               // vsbBit_Change mirrors positions 0..lastMirrored
    std::uint32_t channel1Word;     // the write address byte, instruction byte 0x00
    std::uint32_t channel2Word;     // the same with the channel select bit set
    int readAddressTop;             // read row: first address bit sent, then downwards
    int readDataLow;                // read row: least significant bit of the byte read
    int readDataAck;                // read row: the acknowledge after the byte read

    constexpr std::uint32_t ackMask() const {
        std::uint32_t mask = 0;
        for (int slot : ackSlots) mask |= std::uint32_t{1} << slot;
        return mask;
    }
    constexpr std::uint32_t channelWord(int channel) const { return channel == 2 ? channel2Word : channel1Word; }
    // The slots the frame clocks in which the device acknowledges (program A's
    // last one lies outside its word).
    constexpr std::uint32_t deviceAckSlots() const { return ackMask() & ((std::uint32_t{1} << frame.length) - 1); }
    constexpr int dataTop() const { return dataShift + 7; }
};

// Program A's word holds positions 25..0, the data byte at the bottom; its last
// acknowledge slot, 26, lies just above the word and is never clocked.
inline constexpr WriteLayout kWriteA{0};
inline constexpr ReadLayout kReadA{ReadLayout::kLow};
inline constexpr Variant kProgramA{
    .program = "PX7700_02 RevA",
    .frame = bus::kFrameA,
    .addressTop = kWriteA.addressTop(),
    .channelSelect = kWriteA.channelSelect(),
    .dataShift = kWriteA.dataLow,
    .ackSlots = {kWriteA.addressAck(), kWriteA.instructionAck(), kWriteA.addressTop() + 1},
    .assemblyWritesAckTexts = true,
    .lastMirrored = kWriteA.addressTop(),
    .channel1Word = kWriteA.addressWord(),
    .channel2Word = kWriteA.addressWord() | kWriteA.channelSelectBit(),
    .readAddressTop = kReadA.addressTop(),
    .readDataLow = kReadA.dataLow,
    .readDataAck = kReadA.dataAck(),
};

// Program B's word holds positions 26..0: the data byte one place higher and the
// last acknowledge at 0.
inline constexpr WriteLayout kWriteB{1};
inline constexpr ReadLayout kReadB{ReadLayout::kLow + 1};
inline constexpr Variant kProgramB{
    .program = "PX7702_RevA",
    .frame = bus::kFrameB,
    .addressTop = kWriteB.addressTop(),
    .channelSelect = kWriteB.channelSelect(),
    .dataShift = kWriteB.dataLow,
    .ackSlots = {kWriteB.addressAck(), kWriteB.instructionAck(), kWriteB.dataLow - 1},
    .assemblyWritesAckTexts = false,
    .lastMirrored = ReadLayout::kTop,
    .channel1Word = kWriteB.addressWord(),
    .channel2Word = kWriteB.addressWord() | kWriteB.channelSelectBit(),
    .readAddressTop = kReadB.addressTop(),
    .readDataLow = kReadB.dataLow,
    .readDataAck = kReadB.dataAck(),
};

// The figures the handlers and the worked examples rely on.
static_assert(kProgramA.channel1Word == 0x1600000 && kProgramA.channel2Word == 0x1610000);
static_assert(kProgramB.channel1Word == 0x2C00000 && kProgramB.channel2Word == 0x2C20000);
static_assert(kProgramA.ackSlots == std::array{17, 8, 26} && kProgramB.ackSlots == std::array{18, 9, 0});
static_assert(kProgramA.deviceAckSlots() == 0x20100 && kProgramB.deviceAckSlots() == 0x40201);
static_assert(kProgramA.readAddressTop == 43 && kProgramA.readDataLow == 27 && kProgramA.readDataAck == 44);
static_assert(kProgramB.readAddressTop == 44 && kProgramB.readDataLow == 28 && kProgramB.readDataAck == 27);
static_assert(kProgramA.frame.length == kProgramA.addressTop + 1 && kProgramB.frame.length == kProgramB.addressTop + 1);

}  // namespace frame
