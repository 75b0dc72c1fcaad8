// Reads a write frame back off a recorded access log, independently of the
// writer: checks the start, the two writes per bit and the closing, and returns
// the word the bits spell.
#pragma once

#include "recording_port.h"

#include <algorithm>
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

// The read-back transaction as the bus tables give it: start, address 0x59 and
// its acknowledge slot, eight clocks each with one status read, closing and stop.
inline std::vector<Access> readBackSeq(std::uint16_t pattern, const std::vector<std::uint16_t>& answers) {
    const auto c = [pattern](unsigned levels) { return static_cast<std::uint16_t>(pattern | levels); };
    Seq s;
    s.w({c(3), c(2)});
    for (unsigned bit : {0U, 1U, 0U, 1U, 1U, 0U, 0U, 1U, 0U}) s.w({c(bit), c(2U | bit)});
    for (auto answer : answers) s.w({c(1)}).r(answer).w({c(3)});
    s.w({c(3), c(0), c(2), c(3)});
    return s;
}

// Every frame word in a log that holds only program A frames, each followed by
// its read-back (whatever the reads answered).
inline std::vector<std::uint32_t> framesA(const std::vector<Access>& log) {
    std::vector<std::uint32_t> words;
    for (std::size_t i = 0; i < log.size();) {
        auto frame = decodeFrameA(log, i);
        if (!frame || frame->end + 48 > log.size()) return words;
        std::vector<std::uint16_t> answers;
        for (std::size_t j = frame->end; j < frame->end + 48; ++j) {
            if (log[j].read) answers.push_back(log[j].value);
        }
        if (answers.size() != 8) return words;
        const auto expected = readBackSeq(0x10, answers);
        if (!std::equal(expected.begin(), expected.end(), log.begin() + static_cast<std::ptrdiff_t>(frame->end))) {
            return words;
        }
        words.push_back(frame->word);
        i = frame->end + 48;
    }
    return words;
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
