// The windows' description that every view builds from, without a toolkit:
// the failure dialog's sentence for each thing that can reach the port, and
// the Tab order of both windows.
#include "commands/descriptor.h"
#include "controls/controls.h"
#include "view/window_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>
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

// What each control's event runs and how it is named, in both programs: the
// trace's label, the dialog's words, and the command behind it.
TEST(ControlBindings, NameEachEventAsTheTraceAndTheDialogDo) {
    struct Row {
        const commands::Descriptor* program;
        std::string control;
        int index;
        int value;  // a bar's new value; -1 for a button
        std::string label, shown;
    };
    for (const Row& row : {
             Row{&commands::kDescriptorB, "vsbInputCode1", -1, 200, "code1=200", "the channel 1 code bar, at 200"},
             Row{&commands::kDescriptorA, "vsbInputCode2", -1, 0, "code2=0", "the channel 2 code bar, at 0"},
             Row{&commands::kDescriptorB, "vsbBit", 3, 1, "bit:3=1", "the bit 3 bar, at 1"},
             Row{&commands::kDescriptorA, "vsbBit", 44, 0, "bit:44=0", "the bit 44 bar, at 0"},
             Row{&commands::kDescriptorB, "cmdRun", -1, -1, "run", "Run"},
             Row{&commands::kDescriptorA, "cmdMS", -1, -1, "mid", "Mid Scale"},
             Row{&commands::kDescriptorB, "cmdSHDN", -1, -1, "shdn", "/SHDN"},
             Row{&commands::kDescriptorB, "cmdExit", -1, -1, "exit", "Exit"},
         }) {
        SCOPED_TRACE(row.control + " " + std::to_string(row.index));
        const view::WindowSpec window = view::windowFor(*row.program);
        const view::ControlSpec* control = window.find(row.control, row.index);
        ASSERT_NE(control, nullptr);
        const view::ControlBinding binding = view::bindingFor(*row.program, *control);
        if (row.value < 0) {
            ASSERT_NE(binding.command, nullptr);
            EXPECT_EQ(binding.command->word, row.label);
            EXPECT_EQ(binding.shown, row.shown);
            EXPECT_FALSE(binding.model);
        } else {
            ASSERT_TRUE(binding.model);
            EXPECT_EQ(controls::describe(*binding.model), row.control + (row.index < 0 ? "" : "(" + std::to_string(row.index) + ")"));
            const view::ChangeNames names = view::changeNames(binding, row.value);
            EXPECT_EQ(names.label, row.label);
            EXPECT_EQ(names.shown, row.shown);
        }
    }
}

TEST(ControlBindings, ATableThatDoesNotMatchTheProgramIsRefused) {
    view::ControlSpec button{"cmdLaunch", -1, view::Kind::Button, "&Launch", "", 0, 0, 10, 10, {}};
    EXPECT_THROW(view::bindingFor(commands::kDescriptorB, button), std::logic_error);
    view::ControlSpec bar{"vsbVolume", -1, view::Kind::ScrollBar, "", "", 0, 0, 10, 10, {}, 255};
    EXPECT_THROW(view::bindingFor(commands::kDescriptorB, bar), std::logic_error);
    // Program A has no /SHDN: its command is program B's alone.
    const view::WindowSpec windowB = view::windowB();
    const view::ControlSpec* shdn = windowB.find("cmdSHDN");
    ASSERT_NE(shdn, nullptr);
    EXPECT_THROW(view::bindingFor(commands::kDescriptorA, *shdn), std::logic_error);
}

TEST(WindowTitle, NamesThePortAndCarriesTheMarkUntilTheNextAction) {
    EXPECT_EQ(view::windowTitle("PX7702_RevA", "", ""), "PX7702_RevA");
    EXPECT_EQ(view::windowTitle("PX7702_RevA", "sim", ""), "PX7702_RevA \u2014 sim");
    EXPECT_EQ(view::windowTitle("PX7700_02_RevA", "ppdev /dev/parport0", "cut short"),
              "PX7700_02_RevA \u2014 ppdev /dev/parport0 \u2014 cut short");
    EXPECT_EQ(view::failureTitle("PX7702_RevA"), "PX7702_RevA \u2014 port error");
}

}  // namespace
