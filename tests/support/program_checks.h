// Checks that hold after every handler of either program.
#pragma once

#include "commands/program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testing_support {

inline int bitOf(const commands::Program& p, int k) {
    return p.controls().vsbBit[static_cast<std::size_t>(k)].Value();
}
inline std::string_view textOf(const commands::Program& p, int k) {
    return p.controls().txtBit[static_cast<std::size_t>(k)].Text();
}

// Positions holding 1 within [from, to].
inline std::vector<int> setBits(const commands::Program& p, int from, int to) {
    std::vector<int> set;
    for (int k = from; k <= to; ++k) {
        if (bitOf(p, k) == 1) set.push_back(k);
    }
    return set;
}

// Every acknowledge slot 0, every mirror equal to its bit, the data display
// showing the panel's data byte (once anything was shown at all).
inline void expectPanelConsistent(const commands::Program& p) {
    const auto& v = p.variant();
    for (int slot : v.ackSlots) EXPECT_EQ(bitOf(p, slot), 0) << "acknowledge slot " << slot;
    for (int i = 0; i <= v.lastMirrored; ++i) {
        if (p.controls().txtBit[static_cast<std::size_t>(i)].written()) {
            EXPECT_EQ(textOf(p, i), bitOf(p, i) ? "1" : "0") << "position " << i;
        }
    }
    if (p.controls().txtSDA_Write.written()) {
        int data = 0;
        for (int b = 0; b < 8; ++b) data |= bitOf(p, v.dataShift + b) << b;
        EXPECT_EQ(p.controls().txtSDA_Write.Text(), std::to_string(data));
    }
}

}  // namespace testing_support
