// Every action without a mouse: a session done with the keyboard alone, from
// the moment the window opens, puts on the port exactly what the same session
// done with the mouse does. Events go in through the window system (QWindow),
// as the operator's would; run offscreen and under Xvfb.
#include "rig.h"

#include <QWindow>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace testing_support;

struct Session {
    std::vector<Access> accesses;
    std::vector<std::string> actions;
};

void listen(Rig& rig, Session& session) {
    rig.window->setActionListener([&session](const std::string& action) { session.actions.push_back(action); });
}

void key(Rig& rig, Qt::Key k, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    for (int i = 0; i < times; ++i) QTest::keyClick(rig.window->windowHandle(), k, modifiers);
}

QWidget* focused() { return QApplication::focusWidget(); }

class KeyboardEventLoop : public testing::TestWithParam<const commands::Descriptor*> {};

TEST_P(KeyboardEventLoop, ASessionWithTheKeysAloneSendsWhatTheMouseSends) {
    const commands::Descriptor& program = *GetParam();
    const bool a = &program == &commands::kDescriptorA;
    // The write row's first and third columns from the left: both 0 after code
    // entry (bits 7 and 5 of the address byte 0x58).
    const int firstBit = a ? 25 : 26;
    const int secondBit = firstBit - 2;

    Session keys;
    {
        Rig rig(program);
        listen(rig, keys);
        ASSERT_EQ(focused(), rig.bar("vsbInputCode1"));  // where the keyboard starts
        key(rig, Qt::Key_PageDown, 150);                   // channel 1 to 200: 150 + 55 - 5
        key(rig, Qt::Key_Down, 55);
        key(rig, Qt::Key_Up, 5);
        EXPECT_EQ(rig.program->controls().vsbInputCode1.Value(), 200);
        key(rig, Qt::Key_Tab);
        ASSERT_EQ(focused(), rig.bar("vsbInputCode2"));
        key(rig, Qt::Key_End);  // channel 2 to its maximum
        EXPECT_EQ(rig.program->controls().vsbInputCode2.Value(), 255);
        // Past Ch1, Ch2, the presets, Run, Read, /SHDN and Exit to the bit bars.
        key(rig, Qt::Key_Tab, a ? 9 : 10);
        ASSERT_EQ(focused(), rig.bar("vsbBit", firstBit));
        key(rig, Qt::Key_Down);
        key(rig, Qt::Key_Tab, 2);
        ASSERT_EQ(focused(), rig.bar("vsbBit", secondBit));
        key(rig, Qt::Key_Down);
        key(rig, Qt::Key_Tab, a ? 5 : 6, Qt::ShiftModifier);  // back to Run
        ASSERT_EQ(focused(), rig.button("cmdRun"));
        key(rig, Qt::Key_Return);
        key(rig, Qt::Key_Tab);
        ASSERT_EQ(focused(), rig.button("cmdRead"));
        key(rig, Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(keys.actions.empty() ? std::string() : keys.actions.back(), std::string("read"), 2000);
        keys.accesses = rig.port.log;
    }

    Session mouse;
    {
        Rig rig(program);
        listen(rig, mouse);
        QWindow* window = rig.window->windowHandle();
        auto click = [&](QWidget* w, QPoint at) { QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, w->mapTo(rig.window.get(), at)); };
        QScrollBar* code1 = rig.bar("vsbInputCode1");
        // The same moves: 205 steps down, 5 back up.
        for (int i = 0; i < 205; ++i) click(code1, pointOf(code1, QStyle::SC_ScrollBarAddLine));
        for (int i = 0; i < 5; ++i) click(code1, pointOf(code1, QStyle::SC_ScrollBarSubLine));
        QScrollBar* code2 = rig.bar("vsbInputCode2");
        const QPoint grip = code2->mapTo(rig.window.get(), pointOf(code2, QStyle::SC_ScrollBarSlider));
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, grip);
        QTest::mouseMove(window, grip + QPoint(0, code2->height()));
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, grip + QPoint(0, code2->height()));
        for (int k : {firstBit, secondBit}) click(rig.bar("vsbBit", k), pointOf(rig.bar("vsbBit", k), QStyle::SC_ScrollBarAddLine));
        click(rig.button("cmdRun"), rig.button("cmdRun")->rect().center());
        click(rig.button("cmdRead"), rig.button("cmdRead")->rect().center());
        mouse.accesses = rig.port.log;
    }

    EXPECT_EQ(keys.actions, mouse.actions);
    ASSERT_EQ(keys.accesses.size(), mouse.accesses.size());
    EXPECT_TRUE(keys.accesses == mouse.accesses);
    EXPECT_EQ(keys.actions.size(), 205U + 5 + 1 + 2 + 2);
}

INSTANTIATE_TEST_SUITE_P(Programs, KeyboardEventLoop, testing::Values(&commands::kDescriptorA, &commands::kDescriptorB),
                         [](const testing::TestParamInfo<const commands::Descriptor*>& row) {
                             return std::string(row.param->key);
                         });

// Enter presses a focused button as Space does.
TEST(KeyboardEventLoop, EnterAndSpaceBothPressAFocusedButton) {
    for (Qt::Key k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        Rig rig(commands::kDescriptorB);
        rig.button("cmdCh2")->setFocus();
        QTest::keyClick(rig.window->windowHandle(), k, k == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QTRY_COMPARE_WITH_TIMEOUT(rig.box("txtCh_Write_Display")->text(), QString("2"), 2000);
    }
}

// Ctrl+Q closes the window as E&xit does, in both windows, and so does the
// window set its icon.
TEST(KeyboardEventLoop, CtrlQActsAsExit) {
    for (const commands::Descriptor* program : {&commands::kDescriptorA, &commands::kDescriptorB}) {
        Rig rig(*program);
        EXPECT_FALSE(rig.window->windowIcon().isNull());
        QTest::keyClick(rig.window->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(rig.exits, 1, 2000);
        EXPECT_TRUE(rig.port.log.empty());  // nothing is sent
    }
}

}  // namespace
