// Reads a write frame back off a recorded access log, independently of the
// writer: checks the start, the two writes per bit and the closing, and returns
// the word the bits spell.
#pragma once

#include "recording_port.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace testing_support {

struct DecodedFrame {
    std::uint32_t word;
    std::size_t end;  // index just past the frame's closing write
};

// pattern: 0x10 or 0xF0; length: 26 or 27; closing: the codes after the last bit.
inline std::optional<DecodedFrame> decodeFrame(const std::vector<Access>& log, std::size_t from, std::uint16_t pattern,
                                               int length, std::vector<std::uint16_t> closing) {
    auto at = [&](std::size_t i) -> std::optional<std::uint16_t> {
        if (i >= log.size() || log[i].read || log[i].port != 0x378) return std::nullopt;
        return log[i].value;
    };
    std::size_t i = from;
    if (at(i) != (pattern | 3) || at(i + 1) != (pattern | 2)) return std::nullopt;
    i += 2;
    std::uint32_t word = 0;
    for (int b = 0; b < length; ++b, i += 2) {
        auto low = at(i), high = at(i + 1);
        if (!low || !high) return std::nullopt;
        const unsigned sda = *low & 1U;
        if ((*low & ~1U) != pattern || *high != (pattern | 2U | sda)) return std::nullopt;
        word = (word << 1) | sda;
    }
    for (auto code : closing) {
        if (at(i++) != code) return std::nullopt;
    }
    return DecodedFrame{word, i};
}

inline std::optional<DecodedFrame> decodeFrameA(const std::vector<Access>& log, std::size_t from = 0) {
    return decodeFrame(log, from, 0x10, 26, {0x12, 0x13});
}
inline std::optional<DecodedFrame> decodeFrameB(const std::vector<Access>& log, std::size_t from = 0) {
    return decodeFrame(log, from, 0xF0, 27, {0xF0, 0xF2, 0xF3});
}

// Every frame word in a log that holds only program B frames.
inline std::vector<std::uint32_t> framesB(const std::vector<Access>& log) {
    std::vector<std::uint32_t> words;
    for (std::size_t i = 0; i < log.size();) {
        auto frame = decodeFrameB(log, i);
        if (!frame) break;
        words.push_back(frame->word);
        i = frame->end;
    }
    return words;
}

}  // namespace testing_support
