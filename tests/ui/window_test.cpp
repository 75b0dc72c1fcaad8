// Both windows on real widgets: start state, scroll bar and button behaviour,
// access keys, tool tips, typing, closing and a failing port.
#include "commands/program.h"
#include "recording_port.h"
#include "frame_decoder.h"
#include "view/layout.h"
#include "ui/qt/window.h"
#include "ui/qt/wrap_button.h"
#include "rig.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace {

using namespace testing_support;

void click(QScrollBar* bar, QStyle::SubControl part) {
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, pointOf(bar, part));
}

class BothWindows : public testing::TestWithParam<bool> {};

TEST_P(BothWindows, StartWithEveryControlAtRestAndNothingWritten) {
    Rig rig(GetParam());
    for (const auto& c : rig.window->spec().controls) {
        QWidget* w = rig.window->widget(c.name, c.index);
        ASSERT_NE(w, nullptr) << c.fullName();
        if (c.kind == ui::Kind::ScrollBar) {
            EXPECT_EQ(static_cast<QScrollBar*>(w)->value(), 0) << c.fullName();
        }
        if (c.kind == ui::Kind::TextBox) {
            EXPECT_TRUE(static_cast<QLineEdit*>(w)->text().isEmpty()) << c.fullName();
        }
    }
    EXPECT_TRUE(rig.port.log.empty());
    EXPECT_EQ(rig.window->windowTitle(), GetParam() ? "PX7700_02_RevA" : "PX7702_RevA");
    const QRect screen = rig.window->screen()->availableGeometry();
    EXPECT_LE((rig.window->geometry().center() - screen.center()).manhattanLength(), 2);
    // The client area has exactly the given size: 15 twips a pixel at 96 dpi.
    EXPECT_EQ(rig.window->size(), QSize(rig.window->px(rig.window->spec().width), rig.window->px(rig.window->spec().height)));
    if (rig.window->logicalDpiX() == 96) {
        EXPECT_EQ(rig.window->width(), GetParam() ? 746 : 720);
    }
}

TEST_P(BothWindows, ABitArrowRaisesOneChangeAndNoneAtItsEnd) {
    Rig rig(GetParam());
    QScrollBar* bar = rig.bar("vsbBit", 5);
    QSignalSpy changes(bar, &QScrollBar::valueChanged);
    click(bar, QStyle::SC_ScrollBarAddLine);
    EXPECT_EQ(bar->value(), 1);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(rig.program->controls().vsbBit[5].Value(), 1);
    EXPECT_EQ(rig.box("txtBit", 5)->text(), "1");
    click(bar, QStyle::SC_ScrollBarAddLine);
    EXPECT_EQ(changes.count(), 1);
    click(bar, QStyle::SC_ScrollBarSubPage);  // the track above the thumb: LargeChange 1
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(rig.program->controls().vsbBit[5].Value(), 0);
    EXPECT_TRUE(rig.port.log.empty());  // the panel alone writes nothing
}

TEST_P(BothWindows, AnAcknowledgeSlotSnapsBackOnScreen) {
    Rig rig(GetParam());
    const int slot = rig.program->variant().ackSlots[0];
    click(rig.bar("vsbBit", slot), QStyle::SC_ScrollBarAddLine);
    EXPECT_EQ(rig.bar("vsbBit", slot)->value(), 0);
    EXPECT_EQ(rig.box("txtBit", slot)->text(), "0");
}

TEST_P(BothWindows, ACodeScrollBarStepsByOneAndWritesNothingAtItsEnds) {
    Rig rig(GetParam());
    QScrollBar* bar = rig.bar("vsbInputCode1");
    click(bar, QStyle::SC_ScrollBarSubLine);  // up arrow at 0
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(rig.port.log.empty());
    click(bar, QStyle::SC_ScrollBarAddLine);
    EXPECT_EQ(bar->value(), 1);
    click(bar, QStyle::SC_ScrollBarAddPage);
    EXPECT_EQ(bar->value(), 2);
    EXPECT_EQ(rig.box("txtDisplay1")->text(), "2");
    const std::size_t perFrame = GetParam() ? 104U : 59U;
    EXPECT_EQ(rig.port.log.size(), 2 * perFrame);
    rig.program->controls().vsbInputCode1.setValue(255);
    EXPECT_EQ(bar->value(), 255);
    rig.port.log.clear();
    click(bar, QStyle::SC_ScrollBarAddLine);  // down arrow at 255
    EXPECT_EQ(bar->value(), 255);
    EXPECT_TRUE(rig.port.log.empty());
}

TEST_P(BothWindows, ADragWritesOneFrameOnRelease) {
    Rig rig(GetParam());
    QScrollBar* bar = rig.bar("vsbInputCode2");
    const QPoint grip = pointOf(bar, QStyle::SC_ScrollBarSlider);
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, grip);
    for (int dy = 5; dy <= 40; dy += 5) {
        QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(0, dy)), bar->mapToGlobal(QPointF(grip + QPoint(0, dy))),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
    }
    EXPECT_GT(bar->sliderPosition(), 0);
    EXPECT_TRUE(rig.port.log.empty());  // nothing while dragging
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, grip + QPoint(0, 40));
    EXPECT_EQ(rig.program->controls().vsbInputCode2.Value(), bar->value());
    EXPECT_GT(bar->value(), 0);
    EXPECT_EQ(rig.port.log.size(), GetParam() ? 104U : 59U);
}

TEST_P(BothWindows, AccessKeysClickTheirButtons) {
    Rig rig(GetParam());
    QTest::keyClick(rig.window.get(), Qt::Key_U, Qt::AltModifier);  // R&un
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.port.log.empty(); }, 2000));
    const std::size_t afterRun = rig.port.log.size();
    EXPECT_EQ(afterRun, GetParam() ? 104U : 59U);
    QTest::keyClick(rig.window.get(), Qt::Key_R, Qt::AltModifier);  // &Read
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.port.log.size() > afterRun; }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.box("txtSDA_Data")->text() == "0"; }, 2000));
    QTest::keyClick(rig.window.get(), Qt::Key_X, Qt::AltModifier);  // E&xit
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.exits == 1; }, 2000));
}

TEST_P(BothWindows, SpaceClicksTheFocusedButton) {
    Rig rig(GetParam());
    rig.button("cmdCh2")->setFocus();
    QTest::keyClick(rig.button("cmdCh2"), Qt::Key_Space);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.box("txtCh_Write_Display")->text() == "2"; }, 2000));
    EXPECT_TRUE(rig.port.log.empty());
}

TEST_P(BothWindows, TypingIntoATextBoxChangesNothingElse) {
    Rig rig(GetParam());
    QTest::keyClicks(rig.box("txtBit", 3), "1");
    QTest::keyClicks(rig.box("txtSDA_Data"), "99");
    EXPECT_EQ(rig.box("txtBit", 3)->text(), "1");
    EXPECT_EQ(rig.bar("vsbBit", 3)->value(), 0);
    EXPECT_EQ(rig.program->controls().vsbBit[3].Value(), 0);
    EXPECT_TRUE(rig.port.log.empty());
    // The program's next write of that box is shown again.
    click(rig.bar("vsbBit", 4), QStyle::SC_ScrollBarAddLine);
    EXPECT_EQ(rig.box("txtBit", 3)->text(), "0");
}

TEST_P(BothWindows, TheProgramsNextWriteReplacesTypedTextEvenWhenItsTextIsTheSame) {
    Rig rig(GetParam());
    click(rig.bar("vsbBit", 4), QStyle::SC_ScrollBarAddLine);
    ASSERT_EQ(rig.box("txtBit", 3)->text(), "0");
    QTest::keyClicks(rig.box("txtBit", 3), "1");
    EXPECT_EQ(rig.box("txtBit", 3)->text(), "01");
    // The model still holds "0"; the next mirroring writes "0" again and must show it.
    click(rig.bar("vsbBit", 5), QStyle::SC_ScrollBarAddLine);
    EXPECT_EQ(rig.box("txtBit", 3)->text(), "0");
    EXPECT_TRUE(rig.port.log.empty());
}

TEST_P(BothWindows, ClosingWritesNothing) {
    Rig rig(GetParam());
    rig.window->close();
    EXPECT_TRUE(rig.port.log.empty());
    EXPECT_EQ(rig.exits, 0);
}

// The port error dialog, once the event loop has shown it.
QMessageBox* shownError(Rig& rig) {
    QMessageBox* dialog = nullptr;
    (void)QTest::qWaitFor([&] {
        dialog = rig.window->findChild<QMessageBox*>("portError");
        return dialog != nullptr && dialog->isVisible();
    }, 2000);
    return dialog != nullptr && dialog->isVisible() ? dialog : nullptr;
}

TEST_P(BothWindows, AFailingPortShowsADialogAndTheNextActionWorks) {
    Rig rig(GetParam());
    rig.port.failAt = 3;
    QTest::mouseClick(rig.button("cmdRun"), Qt::LeftButton);
    auto* dialog = shownError(rig);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->text(), "test port: injected failure");
    EXPECT_TRUE(rig.window->isVisible());
    dialog->accept();
    rig.port.log.clear();
    QTest::mouseClick(rig.button("cmdRun"), Qt::LeftButton);
    const auto frame = GetParam() ? decodeFrameA(rig.port.log) : decodeFrameB(rig.port.log);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->word, 0U);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_P(BothWindows, EveryFailingAccessOfAReadShowsOneDialogAndTheWindowGoesOn) {
    Rig rig(GetParam());
    const std::size_t accesses = GetParam() ? 48 : 107;  // A: the read-back; B: Run, then the read-back
    for (std::size_t n = 1; n <= accesses; ++n) {
        SCOPED_TRACE("failing access " + std::to_string(n));
        rig.port.failAfter(n);
        QTest::mouseClick(rig.button("cmdRead"), Qt::LeftButton);
        ASSERT_NE(shownError(rig), nullptr);
        const auto dialogs = rig.window->findChildren<QMessageBox*>();
        ASSERT_EQ(dialogs.size(), 1);
        EXPECT_TRUE(dialogs.front()->isVisible());
        dialogs.front()->accept();
        EXPECT_TRUE(rig.window->isVisible());
        rig.port.failAt = 0;
        rig.port.log.clear();
        QTest::mouseClick(rig.button("cmdRun"), Qt::LeftButton);
        const auto frame = GetParam() ? decodeFrameA(rig.port.log) : decodeFrameB(rig.port.log);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->word, rig.program->frameWord());
    }
}

// The title names the port; a failed action marks it "not sent" until an action
// reaches the port again (a channel button alone does not).
TEST_P(BothWindows, TheTitleNamesThePortAndMarksAnActionNotSent) {
    Rig rig(GetParam());
    const QString caption = GetParam() ? "PX7700_02_RevA" : "PX7702_RevA";
    rig.window->setPortLabel("ppdev /dev/parport0");
    EXPECT_EQ(rig.window->windowTitle(), caption + " \u2014 ppdev /dev/parport0");
    rig.port.failAfter(1);
    QTest::mouseClick(rig.button("cmdMS"), Qt::LeftButton);
    EXPECT_EQ(rig.window->windowTitle(), caption + " \u2014 ppdev /dev/parport0 \u2014 not sent");
    auto* dialog = shownError(rig);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), caption + " \u2014 port error");
    EXPECT_EQ(dialog->informativeText(),
              "Mid Scale stopped at the failing port access: its frame was not sent. The next action tries the port again.");
    dialog->accept();
    QTest::mouseClick(rig.button("cmdCh2"), Qt::LeftButton);
    EXPECT_TRUE(rig.window->windowTitle().endsWith("not sent"));
    QTest::mouseClick(rig.button("cmdRun"), Qt::LeftButton);
    EXPECT_EQ(rig.window->windowTitle(), caption + " \u2014 ppdev /dev/parport0");
}

// Two failures before the dialog is up (a program's own dispatches, not a
// gesture) give one dialog holding the second.
TEST_P(BothWindows, ASecondFailureReplacesTheDialogsText) {
    Rig rig(GetParam());
    rig.port.failAlways = true;
    rig.window->dispatch("cmdRun", [&] { rig.program->cmdRun_Click(); });
    rig.window->dispatch("cmdRead", [&] { rig.program->cmdRead_Click(); });
    auto* dialog = shownError(rig);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(rig.window->findChildren<QMessageBox*>().size(), 1);
    EXPECT_TRUE(dialog->informativeText().startsWith("cmdRead stopped"));
}

// A problem that is not a port failure (a trace that cannot be written) is shown
// once, as a warning, and the action went through.
TEST_P(BothWindows, ANoticeIsShownOnceAfterTheAction) {
    Rig rig(GetParam());
    int asked = 0;
    rig.window->setNoticeSource([&]() -> std::optional<std::string> {
        return ++asked == 1 ? std::optional<std::string>("trace t.txt: write: No space left on device")
                            : std::nullopt;
    });
    QTest::mouseClick(rig.button("cmdRun"), Qt::LeftButton);
    QMessageBox* notice = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        notice = rig.window->findChild<QMessageBox*>("notice");
        return notice != nullptr && notice->isVisible();
    }, 2000));
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text(), "trace t.txt: write: No space left on device");
    EXPECT_FALSE(rig.window->windowTitle().endsWith("not sent"));
    notice->accept();
    QTest::mouseClick(rig.button("cmdRun"), Qt::LeftButton);
    QTest::qWait(50);
    EXPECT_FALSE(notice->isVisible());
    EXPECT_EQ(asked, 2);
}

TEST_P(BothWindows, FixedSizeWithoutAMaximiseButton) {
    Rig rig(GetParam());
    const auto flags = rig.window->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(rig.window->minimumSize(), rig.window->maximumSize());
}

INSTANTIATE_TEST_SUITE_P(Programs, BothWindows, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info_) { return info_.param ? "A" : "B"; });

TEST(Captions, ButtonsAndToolTipsAsGiven) {
    struct Row {
        bool programA;
        const char* name;
        const char* caption;
        const char* tip;
    };
    for (Row row : {Row{true, "cmdRun", "R&un", "Run to execute"}, Row{true, "cmdRead", "&Read", "Run to execute"},
                    Row{true, "cmdExit", "E&xit", "Exit the program"}, Row{true, "cmdZS", "Zero Scale", "Run to execute"},
                    Row{true, "cmdMS", "Mid Scale", "Run to execute"}, Row{true, "cmdFS", "Full Scale", "Run to execute"},
                    Row{true, "cmdCh1", "Ch1", ""}, Row{false, "cmdSHDN", "/SHDN", "Shutdown mode"},
                    Row{false, "cmdRead", "&Read", "Read back setting"}, Row{false, "cmdRun", "R&un", "Run to execute"},
                    Row{false, "cmdZS", "Zero Scale", ""}, Row{false, "cmdMS", "Mid Scale", ""},
                    Row{false, "cmdFS", "Full Scale", ""}, Row{false, "cmdCh2", "Ch2", ""}}) {
        Rig rig(row.programA);
        QPushButton* button = rig.button(row.name);
        ASSERT_NE(button, nullptr) << row.name;
        EXPECT_EQ(button->text(), row.caption) << row.name;
        EXPECT_EQ(button->toolTip(), row.tip) << row.name;
    }
}

TEST(Captions, ShutdownHasNoAccessKey) {
    Rig rig(false);
    QTest::keyClick(rig.window.get(), Qt::Key_S, Qt::AltModifier);
    QTest::keyClick(rig.window.get(), Qt::Key_H, Qt::AltModifier);
    QTest::qWait(300);  // longer than an animated click: nothing may come
    EXPECT_TRUE(rig.port.log.empty());
    QTest::mouseClick(rig.button("cmdSHDN"), Qt::LeftButton);
    EXPECT_EQ(rig.port.log, std::vector<Access>{W(0xAF)});
}

}  // namespace
