// The window's behaviour that both views take from view/: the failure cycle and
// the title, the keys and the close box, the stacking, the resolved look and
// which row shows which model control.
#include "commands/descriptor.h"
#include "controls/controls.h"
#include "view/window_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using Kind = commands::Delivery::Kind;

// Each step: what happens, then the title, whether events are taken, and
// whether the view must queue the dialog.
TEST(WindowState, AFailureMarksTheTitleQueuesOneDialogAndRefusesEventsUntilItCloses) {
    view::WindowState state("PX7702_RevA");
    state.setPortLabel("sim");
    EXPECT_EQ(state.title(), view::windowTitle("PX7702_RevA", "sim", ""));
    EXPECT_TRUE(state.accepting());

    EXPECT_TRUE(state.failed("Mid Scale", "sim: the port failed", {Kind::NotSent}));
    EXPECT_EQ(state.title(), view::windowTitle("PX7702_RevA", "sim", "not sent"));
    EXPECT_FALSE(state.accepting());
    // A second failure before the dialog shows: no second dialog, its text wins.
    EXPECT_FALSE(state.failed("Run", "sim: it failed again", {Kind::CutShort, 11, 59}));
    EXPECT_EQ(state.title(), view::windowTitle("PX7702_RevA", "sim", "cut short"));

    const auto dialog = state.showFailure();
    EXPECT_EQ(dialog.title, view::failureTitle("PX7702_RevA"));
    EXPECT_EQ(dialog.message, "sim: it failed again");
    EXPECT_EQ(dialog.sent, view::failureText("Run", {Kind::CutShort, 11, 59}));
    EXPECT_FALSE(state.accepting());  // shown, not yet closed
    // A failure while it is up queues again: the view updates the dialog's text.
    EXPECT_TRUE(state.failed("Read", "sim: once more", {Kind::ReadBackFailed}));
    EXPECT_EQ(state.showFailure().message, "sim: once more");

    state.failureClosed();
    EXPECT_TRUE(state.accepting());
    // The mark stays until an action reaches the port, and goes once.
    EXPECT_EQ(state.title(), view::windowTitle("PX7702_RevA", "sim", "read-back failed"));
    EXPECT_TRUE(state.reached());
    EXPECT_FALSE(state.reached());
    EXPECT_EQ(state.title(), view::windowTitle("PX7702_RevA", "sim", ""));
}

TEST(WindowKeys, AltWithAnAccessKeyClicksItsButtonAndEveryWayOutClicksExit) {
    struct Row {
        const commands::Descriptor* program;
        char32_t letter;
        std::string button;  // empty: none
    };
    for (const Row& row : {Row{&commands::kDescriptorB, U'x', "cmdExit"}, Row{&commands::kDescriptorB, U'X', "cmdExit"},
                           Row{&commands::kDescriptorB, U'r', "cmdRead"}, Row{&commands::kDescriptorB, U'u', "cmdRun"},
                           Row{&commands::kDescriptorB, U'q', ""}, Row{&commands::kDescriptorB, 0, ""},
                           Row{&commands::kDescriptorA, U'x', "cmdExit"}}) {
        const view::WindowSpec window = view::windowFor(*row.program);
        SCOPED_TRACE(window.name + " " + std::string(1, static_cast<char>(row.letter)));
        const auto button = view::accessKeyButton(window, row.letter);
        EXPECT_EQ(button ? button->name : std::string(), row.button);
        const view::ControlRef exit = view::exitButton(window);
        ASSERT_NE(window.find(exit.name, exit.index), nullptr);
        EXPECT_EQ(window.find(exit.name, exit.index)->caption, "E&xit");
    }
    // No two buttons of a window share an access key.
    for (const view::WindowSpec& window : {view::windowA(), view::windowB()}) {
        std::set<char32_t> keys;
        for (const view::ControlSpec& c : window.controls) {
            if (c.kind != view::Kind::Button || view::accessKeyOf(c.caption) == 0) continue;
            EXPECT_TRUE(keys.insert(view::accessKeyOf(c.caption)).second) << window.name << " " << c.caption;
        }
    }
}

// Labels and rectangles beneath every control; otherwise a later row lies over
// an earlier one (adjacent bit bars overlap by a pixel: the right one is whole).
TEST(Stacking, ControlsOverLabelsAndALaterRowOverAnEarlierOne) {
    for (const view::WindowSpec& window : {view::windowA(), view::windowB()}) {
        SCOPED_TRACE(window.name);
        const std::vector<std::size_t> order = view::stackingOrder(window);
        ASSERT_EQ(order.size(), window.controls.size());
        EXPECT_EQ(std::set<std::size_t>(order.begin(), order.end()).size(), order.size());
        auto beneath = [&](std::size_t row) {
            return window.controls[row].kind == view::Kind::Label || window.controls[row].kind == view::Kind::Rectangle;
        };
        for (std::size_t i = 1; i < order.size(); ++i) {
            const std::size_t above = order[i - 1], below = order[i];
            if (beneath(above) == beneath(below)) {
                EXPECT_GT(above, below);
            } else {
                EXPECT_TRUE(beneath(below)) << window.controls[above].fullName() << " over " << window.controls[below].fullName();
            }
        }
    }
}

TEST(ResolvedLook, EveryDefaultIsFilledInOnce) {
    view::WindowSpec window{"w", "W", 100, 100, view::kWindowYellow, {}};
    auto control = [](view::Kind kind, view::Look look) {
        return view::ControlSpec{"c", -1, kind, "", "", 0, 0, 10, 10, look};
    };
    const view::Rgb blue = view::kBlue, black{0, 0, 0}, white{255, 255, 255};
    struct Row {
        std::string name;
        view::ControlSpec control;
        view::Rgb text;
        std::optional<view::Rgb> back;
        double points;
    };
    for (const Row& row : {
             Row{"label on the window", control(view::Kind::Label, {}), black, view::kWindowYellow, 8.0},
             Row{"label with its own back", control(view::Kind::Label, {blue, view::kRed}), blue, view::kRed, 8.0},
             Row{"text box", control(view::Kind::TextBox, {}), black, white, 8.0},
             Row{"text box with a back", control(view::Kind::TextBox, {std::nullopt, view::kRed}), black, view::kRed, 8.0},
             Row{"text box on the frame colour", control(view::Kind::TextBox, {view::kRed, std::nullopt, true, 12}),
                 view::kRed, black, 12.0},
             Row{"button face of the system", control(view::Kind::Button, {}), black, std::nullopt, 8.0},
             Row{"button with a face", control(view::Kind::Button, {std::nullopt, view::kRed, false, 9.75, true}), black,
                 view::kRed, 9.75},
         }) {
        const view::ResolvedLook look = view::resolvedLook(window, row.control);
        EXPECT_EQ(look.text, row.text) << row.name;
        EXPECT_EQ(look.back, row.back) << row.name;
        EXPECT_EQ(look.points, row.points) << row.name;
    }
}

// Every model control a program has is shown by exactly the row bound to it.
TEST(ControlIndex, EachModelControlHasTheRowBoundToIt) {
    for (const commands::Descriptor* program : commands::programs()) {
        const view::WindowSpec window = view::windowFor(*program);
        const view::ControlIndex index(*program, window);
        SCOPED_TRACE(window.name);
        for (const controls::ControlId id : {controls::ControlId{controls::Name::vsbBit, 0},
                                             controls::ControlId{controls::Name::vsbBit, 25},
                                             controls::ControlId{controls::Name::txtBit, 7},
                                             controls::ControlId{controls::Name::vsbInputCode1, 0}}) {
            const auto row = index.rowOf(id);
            ASSERT_TRUE(row) << controls::describe(id);
            EXPECT_EQ(index.binding(*row).model, id);
        }
    }
}

}  // namespace
