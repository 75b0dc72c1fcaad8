// The frame layouts of the two programs: where each field of the write frame sits
// on the bit panel and in the frame word, and where the read row is.
#pragma once

#include "bus/transactions.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace frame {

// Panel position k carries weight 2^k in the frame word. Program A's word holds
// positions 25..0 (its last acknowledge slot, 26, lies outside the word); program
// B's holds 26..0, the data byte one place higher and the last acknowledge at 0.
struct Variant {
    std::string_view program;
    bus::FrameFormat frame;
    std::array<int, 3> ackSlots;  // in the order they are cleared
    bool assemblyWritesAckTexts;  // program A's assembly writes the slots' mirrors itself
    int lastMirrored;             // vsbBit_Change mirrors positions 0..lastMirrored
    int channelSelect;            // first bit of the instruction byte: 0 channel 1, 1 channel 2
    int dataShift;                // the data byte sits at positions dataShift+7..dataShift
    std::uint32_t channel1Word;   // slave address 0x58, instruction byte 0x00
    std::uint32_t channel2Word;   // slave address 0x58, channel select bit set
    int readAddressTop;           // read row: first address bit sent, then downwards
    int readDataLow;              // read row: least significant bit of the byte read

    constexpr std::uint32_t ackMask() const {
        std::uint32_t mask = 0;
        for (int slot : ackSlots) mask |= std::uint32_t{1} << slot;
        return mask;
    }
    constexpr std::uint32_t channelWord(int channel) const { return channel == 2 ? channel2Word : channel1Word; }
};

inline constexpr Variant kProgramA{
    "PX7700_02 RevA", bus::kFrameA, {17, 8, 26}, true, 25, 16, 0, 0x1600000, 0x1610000, 43, 27,
};

inline constexpr Variant kProgramB{
    "PX7702_RevA", bus::kFrameB, {18, 9, 0}, false, 44, 17, 1, 0x2C00000, 0x2C20000, 44, 28,
};

}  // namespace frame
