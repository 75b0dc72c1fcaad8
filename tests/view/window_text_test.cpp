// The windows' description that every view builds from, without a toolkit:
// the failure dialog's sentence for each thing that can reach the port, and
// the Tab order of both windows.
#include "controls/controls.h"
#include "view/window_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using Kind = commands::Delivery::Kind;

TEST(FailureText, SaysWhatReachedThePortAndNamesTheControl) {
    const std::string next = ". The next action tries the port again.";
    struct Row {
        std::string action;
        commands::Delivery delivery;
        std::string text;
    };
    for (const Row& row : {
             Row{"Mid Scale", {Kind::NotSent}, "Mid Scale stopped at the failing port access: its frame was not sent"},
             Row{"Run", {Kind::CutShort, 11, 59}, "Run stopped at the failing port access: it was cut short after 11 of 59 writes"},
             Row{"Read", {Kind::ReadBackFailed}, "Read stopped at the failing port access: its frame was written; the read-back failed"},
             Row{"Zero Scale", {Kind::Written}, "Zero Scale stopped at the failing port access: its frame was written whole; the device did not take it"},
             Row{"the channel 1 code bar, at 1", {Kind::NotSent},
                 "The channel 1 code bar, at 1, stopped at the failing port access: its frame was not sent"},
         }) {
        EXPECT_EQ(view::failureText(row.action, row.delivery), row.text + next) << row.action;
    }
}

TEST(TabOrder, CodeBarsThenButtonsThenEachBitRowFromTheLeft) {
    for (const view::WindowSpec& window : {view::windowA(), view::windowB()}) {
        SCOPED_TRACE(window.name);
        const auto order = view::tabOrder(window);
        ASSERT_GE(order.size(), 2U);
        EXPECT_EQ(order[0], (view::ControlRef{"vsbInputCode1", -1}));
        EXPECT_EQ(order[1], (view::ControlRef{"vsbInputCode2", -1}));
        std::size_t i = 2;
        while (i < order.size() && order[i].name.rfind("cmd", 0) == 0) ++i;
        EXPECT_EQ(order[i - 1].name, "cmdExit");
        EXPECT_EQ(window.find("cmdSHDN") != nullptr,
                  std::find(order.begin(), order.end(), view::ControlRef{"cmdSHDN", -1}) != order.end());
        // Every bit bar once: the write row from the left, then the read row.
        std::set<int> seen;
        int left = -1;
        bool readRow = false;
        for (; i < order.size(); ++i) {
            ASSERT_EQ(order[i].name, "vsbBit");
            const view::ControlSpec* bar = window.find("vsbBit", order[i].index);
            ASSERT_NE(bar, nullptr);
            if (!readRow && order[i].index >= controls::kWriteRowBits) {
                readRow = true;
                left = -1;
            }
            EXPECT_EQ(readRow, order[i].index >= controls::kWriteRowBits);
            EXPECT_GT(bar->left, left);
            left = bar->left;
            EXPECT_TRUE(seen.insert(order[i].index).second);
        }
        int bars = 0;
        for (const auto& c : window.controls) bars += c.name == "vsbBit" ? 1 : 0;
        EXPECT_EQ(static_cast<int>(seen.size()), bars);
    }
}

}  // namespace
