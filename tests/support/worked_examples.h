// The bus tables' worked examples, written out as they are given.
#pragma once

#include "recording_port.h"

#include <vector>

namespace testing_support {

// Program A, frame word 0x1600080 (code 128 on channel 1): 56 writes.
inline std::vector<Access> workedFrameA() {
    return Seq()
        .w({0x13, 0x12})           // start
        .w({0x10, 0x12})           // bit 25: 0
        .w({0x11, 0x13})           // bit 24: 1
        .w({0x10, 0x12})           // bit 23: 0
        .w({0x11, 0x13})           // bit 22: 1
        .w({0x11, 0x13})           // bit 21: 1
        .repeat(13, {0x10, 0x12})  // bits 20..8: 0
        .w({0x11, 0x13})           // bit 7: 1
        .repeat(7, {0x10, 0x12})   // bits 6..0: 0
        .w({0x12, 0x13});          // closing
}

// Program B, frame word 0x2C00100 (code 128 on channel 1): 59 writes.
inline std::vector<Access> workedFrameB() {
    return Seq()
        .w({0xF3, 0xF2})
        .w({0xF0, 0xF2})           // bit 26
        .w({0xF1, 0xF3})           // bit 25
        .w({0xF0, 0xF2})           // bit 24
        .repeat(2, {0xF1, 0xF3})   // bits 23, 22
        .repeat(13, {0xF0, 0xF2})  // bits 21..9
        .w({0xF1, 0xF3})           // bit 8
        .repeat(8, {0xF0, 0xF2})   // bits 7..0
        .w({0xF0, 0xF2, 0xF3});
}

}  // namespace testing_support
