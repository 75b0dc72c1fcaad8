// What only the real event loop shows: a port failure during a held scroll-bar
// arrow. Events go in through the window system (QWindow), so a modal dialog
// blocks them as it would block the operator's. Run offscreen and under Xvfb.
#include "rig.h"

#include <QMessageBox>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

class EventLoop : public testing::TestWithParam<bool> {};

TEST_P(EventLoop, HoldingACodeArrowOnAFailingPortMakesOneAttemptAndShowsOneDialog) {
    Rig rig(GetParam());
    rig.port.failAlways = true;
    QScrollBar* bar = rig.bar("vsbInputCode1");
    QWindow* window = rig.window->windowHandle();
    ASSERT_NE(window, nullptr);
    const QPoint at = bar->mapTo(rig.window.get(), pointOf(bar, QStyle::SC_ScrollBarAddLine));

    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
    // Held for 2 s: a bar left repeating steps every 50 ms after the first 500.
    QTest::qWait(2000);
    EXPECT_EQ(rig.port.accesses(), 1U);
    EXPECT_LE(bar->value(), 1);
    EXPECT_EQ(rig.program->controls().vsbInputCode1.Value(), bar->value());
    const auto dialogs = rig.window->findChildren<QMessageBox*>();
    ASSERT_EQ(dialogs.size(), 1);
    QMessageBox* dialog = dialogs.front();
    EXPECT_TRUE(dialog->isVisible());

    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);  // the dialog holds the window
    QTest::keyClick(dialog, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 2000);
    QTest::qWait(2000);
    EXPECT_EQ(rig.port.accesses(), 1U);
    EXPECT_LE(bar->value(), 1);
    EXPECT_EQ(rig.window->findChildren<QMessageBox*>().size(), 1);

    // The next gesture tries the port again, once.
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), 2000);
    EXPECT_EQ(rig.port.accesses(), 2U);
}

INSTANTIATE_TEST_SUITE_P(Programs, EventLoop, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& row) { return row.param ? "A" : "B"; });

}  // namespace
