// Change semantics of the controls model: what runs the Change handler and what
// a view is told.
#include "controls/controls.h"
#include "event_log.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string_view>
#include <type_traits>

namespace {

using testing_support::Event;
using testing_support::EventLog;

TEST(ScrollBar, ChangeRunsOnlyOnARealChangeAndInsideTheAssignment) {
    controls::Controls c;
    int changes = 0;
    int seen = -1;
    c.vsbInputCode1.setChangeHandler([&] {
        ++changes;
        seen = c.vsbInputCode1.Value();
    });
    c.vsbInputCode1.setValue(0);  // the value it holds
    EXPECT_EQ(changes, 0);
    c.vsbInputCode1.setValue(200);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seen, 200);  // the handler already sees the new value
    c.vsbInputCode1.setValue(200);
    EXPECT_EQ(changes, 1);
    c.vsbInputCode1.setValue(255);
    EXPECT_EQ(changes, 2);
}

TEST(ScrollBar, NestedAssignmentsCompleteBeforeTheOuterOneReturns) {
    controls::Controls c;
    std::vector<int> order;
    c.vsbBit[0].setChangeHandler([&] {
        order.push_back(0);
        c.vsbBit[1].setValue(1);
        order.push_back(2);
    });
    c.vsbBit[1].setChangeHandler([&] { order.push_back(1); });
    c.vsbBit[0].setValue(1);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(ScrollBar, RejectsValuesOutsideItsRangeAndKeepsItsValue) {
    controls::Controls c;
    int changes = 0;
    c.vsbInputCode2.setChangeHandler([&] { ++changes; });
    try {
        c.vsbInputCode2.setValue(256);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "vsbInputCode2: value 256 outside 0..255");
    }
    EXPECT_THROW(c.vsbInputCode2.setValue(-1), std::out_of_range);
    try {
        c.vsbBit[44].setValue(2);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "vsbBit(44): value 2 outside 0..1");
    }
    EXPECT_EQ(c.vsbInputCode2.Value(), 0);
    EXPECT_EQ(c.vsbBit[44].Value(), 0);
    EXPECT_EQ(changes, 0);
}

TEST(Controls, StartValues) {
    controls::Controls c;
    int bars = 0;
    c.forEachScrollBar([&](controls::ScrollBar& bar) {
        ++bars;
        EXPECT_EQ(bar.Value(), 0);
        EXPECT_EQ(bar.Min(), 0);
        EXPECT_EQ(bar.Max(), bar.id().name == controls::Name::vsbBit ? 1 : 255);
    });
    int boxes = 0;
    c.forEachTextBox([&](controls::TextBox& box) {
        ++boxes;
        EXPECT_EQ(box.Text(), "");
        EXPECT_FALSE(box.written());
    });
    EXPECT_EQ(bars, 47);
    EXPECT_EQ(boxes, 51);
}

TEST(TextBox, WrittenEmptyTextIsDistinguishableFromNeverWritten) {
    controls::Controls c;
    EventLog log;
    c.setObserver(&log);
    c.txtSDA_Data.setText("");
    EXPECT_TRUE(c.txtSDA_Data.written());
    EXPECT_EQ(c.txtSDA_Data.Text(), "");
    c.txtSDA_Data.setText("");
    c.txtSDA_Data.setText("17");
    c.txtSDA_Data.setText("17");
    EXPECT_EQ(log.events, (std::vector<Event>{{"txtSDA_Data", ""}, {"txtSDA_Data", "17"}}));
}

TEST(Observer, HearsTheNewValueBeforeTheChangeHandlerRuns) {
    controls::Controls c;
    EventLog log;
    c.setObserver(&log);
    c.vsbBit[3].setChangeHandler([&] { c.txtBit[3].setText("1"); });
    c.vsbBit[3].setValue(1);
    c.vsbBit[3].setValue(1);
    EXPECT_EQ(log.events, (std::vector<Event>{{"vsbBit(3)", "1"}, {"txtBit(3)", "1"}}));
    c.setObserver(nullptr);
    c.vsbBit[3].setValue(0);
    EXPECT_EQ(log.events.size(), 2U);
}

TEST(Controls, LooksUpControlsById) {
    controls::Controls c;
    EXPECT_EQ(&c.scrollBar({controls::Name::vsbBit, 44}), &c.vsbBit[44]);
    EXPECT_EQ(&c.scrollBar({controls::Name::vsbInputCode2}), &c.vsbInputCode2);
    EXPECT_EQ(&c.textBox({controls::Name::txtCh_Read_Display}), &c.txtCh_Read_Display);
    EXPECT_THROW(c.scrollBar({controls::Name::txtSDA_Data}), std::invalid_argument);
    EXPECT_THROW(c.textBox({controls::Name::txtBit, 45}), std::out_of_range);
}

TEST(DecimalText, NoLeadingBlankOrZeros) {
    EXPECT_EQ(controls::DecimalText(0).str(), "0");
    EXPECT_EQ(controls::DecimalText(128).str(), "128");
    EXPECT_EQ(controls::DecimalText(255).str(), "255");
}

}  // namespace

// A view of a temporary would dangle, so only a named value converts.
static_assert(std::is_convertible_v<const controls::DecimalText&, std::string_view>);
static_assert(!std::is_convertible_v<controls::DecimalText&&, std::string_view>);
