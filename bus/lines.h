// Port addresses, line codes and the SDA sample of the two-wire bus on the
// parallel port: D0 drives SDA, D1 drives SCL, status bit 3 reads SDA back.
#pragma once

#include "bus/port.h"

#include <array>
#include <cstdint>

namespace bus {

inline constexpr std::uint16_t kDataRegister = 0x378;    // every line-code write
inline constexpr std::uint16_t kStatusRegister = 0x379;  // every SDA sample
inline constexpr std::uint16_t kSdaStatusMask = 0x08;    // status bit 3 carries SDA

// The wiring of the data register: D0 drives SDA, D1 drives SCL, D4 drives the
// board's /SHDN input (active low); the line codes keep D4 high.
inline constexpr std::uint8_t kSdaLine = 0x01;
inline constexpr std::uint8_t kSclLine = 0x02;
inline constexpr std::uint8_t kShutdownLine = 0x10;

// The status bits other than SDA's, as an idle port shows them: one fixed
// pattern for every backend that answers the status register itself.
inline constexpr std::uint8_t kStatusIdleBits = 0x77;

// The potentiometer's 7-bit bus address. Its address byte is 0x58 to write and
// 0x59 (the read bit set) to read.
inline constexpr std::uint8_t kSlaveAddress = 0x2C;
inline constexpr std::uint8_t kWriteAddressByte = kSlaveAddress << 1;
inline constexpr std::uint8_t kReadAddressByte = kWriteAddressByte | 1;

// The level of both bus lines after one write.
struct Lines {
    bool scl;
    bool sda;
    friend constexpr bool operator==(const Lines&, const Lines&) = default;
};

inline constexpr Lines kIdle{true, true};

// The four line codes of one program: bit 0 is SDA, bit 1 is SCL, the other bits
// are a fixed pattern (0x10 on program A's board, 0xF0 on program B's).
struct LineCodes {
    std::array<std::uint8_t, 4> byLevels;  // indexed by SCL * 2 + SDA

    static constexpr LineCodes withPattern(std::uint8_t pattern) {
        return LineCodes{{pattern, static_cast<std::uint8_t>(pattern | kSdaLine),
                          static_cast<std::uint8_t>(pattern | kSclLine),
                          static_cast<std::uint8_t>(pattern | kSclLine | kSdaLine)}};
    }

    constexpr std::uint8_t operator()(Lines lines) const {
        return byLevels[(lines.scl ? 2U : 0U) + (lines.sda ? 1U : 0U)];
    }
};

inline constexpr LineCodes kCodesA = LineCodes::withPattern(0x10);
inline constexpr LineCodes kCodesB = LineCodes::withPattern(0xF0);

// Program B's shutdown code: SDA and SCL stay high, D4 goes low (the board's
// /SHDN), D2 and D3 go high. It stays on the port until the next bus write.
inline constexpr std::uint8_t kShutdownCode = 0xAF;

// Only bit 3 of the status word counts; the other 15 bits are whatever the port shows.
constexpr int sdaFromStatus(std::uint16_t status) {
    return (status & kSdaStatusMask) != 0 ? 1 : 0;
}

inline void writeLines(Port& port, const LineCodes& codes, Lines lines) {
    port.OutportW(kDataRegister, codes(lines));
}

inline int sampleSda(Port& port) {
    return sdaFromStatus(port.InportW(kStatusRegister));
}

}  // namespace bus
