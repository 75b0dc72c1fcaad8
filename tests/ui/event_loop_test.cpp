// What only the real event loop shows: a port failure during a held scroll-bar
// arrow. Events go in through the window system (QWindow), so a modal dialog
// blocks them as it would block the operator's. Run offscreen and under Xvfb.
#include "ui/qt/run.h"
#include "platform/signals.h"
#include "ports/trace_port.h"
#include "rig.h"

#include <QMessageBox>
#include <QMouseEvent>
#include <QWindow>

#include <csignal>
#include <fstream>


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

namespace {

using namespace testing_support;

// Passes accesses on, and has the process sent SIGTERM in the middle of a frame.
class SignallingPort final : public bus::Port {
public:
    explicit SignallingPort(bus::Port& inner, std::size_t atWrite) : inner_(inner), atWrite_(atWrite) {}
    void OutportW(std::uint16_t port, std::uint16_t value) override {
        inner_.OutportW(port, value);
        if (++writes_ == atWrite_) std::raise(SIGTERM);
    }
    std::uint16_t InportW(std::uint16_t port) override { return inner_.InportW(port); }

private:
    bus::Port& inner_;
    std::size_t atWrite_;
    std::size_t writes_ = 0;
};

class SignalEventLoop : public testing::TestWithParam<const commands::Descriptor*> {};

// Fifteen clicks on Run wait in the queue behind the first, as they do behind a
// slow port; SIGTERM comes in the first one's frame. That frame completes and
// nothing queued behind it sends another (before, every queued click did).
TEST_P(SignalEventLoop, ASignalMidFrameClosesTheWindowAfterThatFrameWithTheTraceComplete) {
    const commands::Descriptor& descriptor = *GetParam();
    const std::string path = testing::TempDir() + "px77xx_signal_" + std::string(descriptor.key) + ".log";
    RecordingPort device;
    auto trace = std::make_unique<ports::TracePort>(std::make_unique<SignallingPort>(device, 10), path);
    ports::TracePort& recorder = *trace;
    auto program = descriptor.make(*trace);
    ui::Window window(descriptor, *program);
    int exits = 0;
    window.setExitAction([&] { ++exits; });
    const platform::SignalWatch watch;
    ui::stopOnSignals(window, watch, *program);
    window.showCentred();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QPushButton* run = static_cast<QPushButton*>(window.widget("cmdRun"));
    const QPointF at = run->rect().center();
    for (int click = 0; click < 15; ++click) {
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QCoreApplication::postEvent(run, new QMouseEvent(type, at, run->mapToGlobal(at), Qt::LeftButton,
                                                             type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                             Qt::NoModifier));
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(exits >= 1, 2000);
    QTest::qWait(100);
    EXPECT_EQ(watch.pending(), SIGTERM);
    // Run's whole frame (and program A's read-back after it), and nothing cut.
    EXPECT_EQ(device.log.size(), GetParam() == &commands::kDescriptorA ? 104U : 59U);
    recorder.close();
    std::vector<std::string> traced;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) traced.push_back(line);
    ASSERT_EQ(traced.size(), device.log.size());
    EXPECT_EQ(traced.back(), "out 0x378 0x" + std::string(GetParam() == &commands::kDescriptorA ? "13" : "f3"));
}

INSTANTIATE_TEST_SUITE_P(Programs, SignalEventLoop, testing::Values(&commands::kDescriptorA, &commands::kDescriptorB),
                         [](const testing::TestParamInfo<const commands::Descriptor*>& row) {
                             return std::string(row.param->key);
                         });

}  // namespace
