// What reached the port, told the same way everywhere: for a failure at the
// first write, part-way through a frame, or at a read-back's first status read,
// pxctl's message, its JSON object, the window's dialog and the title's mark.
#include "script/actions.h"
#include "script/json.h"
#include "script/runner.h"
#include "commands/descriptor.h"
#include "ports/factory.h"
#include "rig.h"
#include "table.h"

#include <QMessageBox>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace testing_support;

struct Row {
    std::string name;
    const commands::Descriptor* program;
    std::string word;   // one button
    std::size_t failAt;  // the action's access that fails, from 1
    std::string sent;    // how pxctl and the dialog put what reached the port
    std::string mark;    // the title's mark and the JSON's "delivery"
    std::string json;    // what the JSON object adds about it
};

class FailurePlace : public testing::TestWithParam<Row> {};

TEST_P(FailurePlace, IsReportedAlikeByPxctlItsJsonTheDialogAndTheTitle) {
    const Row& row = GetParam();
    const std::string error = "test port: injected failure";
    const auto actions = script::parseActions({row.word}, *row.program);

    RecordingPort port;
    port.failAfter(row.failAt);
    auto program = row.program->make(port);
    std::ostringstream out, err;
    script::Runner runner(*program, out, err, true);
    EXPECT_FALSE(runner.run(actions.front()));
    EXPECT_EQ(err.str(), "pxctl: " + row.word + ": " + row.sent + ": " + error + " (action 1; 0 ran before it)\n");
    EXPECT_EQ(out.str(), "{\"index\":1,\"action\":\"" + row.word + "\",\"ok\":false,\"cause\":\"port failed\",\"delivery\":\"" +
                             row.mark + "\"" + row.json + ",\"error\":\"" + row.word + ": " + row.sent + ": " + error + "\"}\n");
    EXPECT_EQ(port.log.size(), row.failAt - 1);

    Rig rig(*row.program);
    rig.window->setPortLabel("test");
    rig.port.failAfter(row.failAt);
    const commands::Command* command = row.program->findWord(row.word);
    QPushButton* button = rig.button(std::string(command->name).c_str());
    QTest::mouseClick(button, Qt::LeftButton);
    QMessageBox* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        dialog = rig.window->findChild<QMessageBox*>("portError");
        return dialog != nullptr && dialog->isVisible();
    }, 2000));
    EXPECT_EQ(dialog->text().toStdString(), error);
    const std::string sentence = row.sent.rfind("cut short", 0) == 0 ? "it was " + row.sent : "its frame was " + row.sent;
    EXPECT_EQ(dialog->informativeText().toStdString(),
              button->text().remove('&').toStdString() + " stopped at the failing port access: " +
                  (row.mark == "read-back failed" ? std::string("its frame was written; the read-back failed") : sentence) +
                  ". The next action tries the port again.");
    EXPECT_EQ(rig.window->windowTitle().toStdString(),
              std::string(row.program->caption) + " \u2014 test \u2014 " + row.mark);

    // The next action that completes clears the mark.
    dialog->accept();
    rig.port.failAt = 0;
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(rig.window->windowTitle().toStdString(), std::string(row.program->caption) + " \u2014 test");
}

const commands::Descriptor* const A = &commands::kDescriptorA;
const commands::Descriptor* const B = &commands::kDescriptorB;

// Program A's frame is 56 writes and B's 59; a read-back is 19 writes (start,
// address, acknowledge slot) and then its first status read.
INSTANTIATE_TEST_SUITE_P(
    Reports, FailurePlace,
    testing::Values(
        Row{"B_first_write", B, "run", 1, "not sent", "not sent", ""},
        Row{"B_write_18_of_a_frame", B, "run", 18, "cut short after 17 of 59 writes", "cut short",
            ",\"writes\":17,\"of\":59"},
        Row{"B_read_backs_first_status_read", B, "read", 59 + 20, "written; read-back failed", "read-back failed", ""},
        Row{"A_first_write", A, "run", 1, "not sent", "not sent", ""},
        Row{"A_write_31_of_a_frame", A, "run", 31, "cut short after 30 of 56 writes", "cut short",
            ",\"writes\":30,\"of\":56"},
        Row{"A_read_backs_first_status_read", A, "run", 56 + 20, "written; read-back failed", "read-back failed", ""},
        // Read alone writes no frame first: its read-back is what was cut.
        Row{"A_read_alone_at_its_first_status_read", A, "read", 20, "cut short after 19 of 40 writes", "cut short",
            ",\"writes\":19,\"of\":40"}),
    RowName());

}  // namespace

namespace {

using namespace testing_support;

// With the acknowledge check, a device that does not answer fails the action
// in the window as a port failure does: one dialog, and the title's mark.
TEST(CheckAckInTheWindow, ANoDeviceIsADialogAndACutShortMark) {
    Rig rig(commands::kDescriptorB);
    rig.port.idleStatus = 0x0008;  // SDA stays high: nobody answers
    rig.program->setCheckAck(true);
    QTest::mouseClick(rig.button("cmdZS"), Qt::LeftButton);
    QMessageBox* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        dialog = rig.window->findChild<QMessageBox*>("portError");
        return dialog != nullptr && dialog->isVisible();
    }, 2000));
    EXPECT_EQ(dialog->text(), "no device answered at 0x2c");
    EXPECT_EQ(dialog->informativeText(),
              "Zero Scale stopped at the failing port access: it was cut short after 23 of 59 writes. The next "
              "action tries the port again.");
    EXPECT_EQ(rig.window->windowTitle(), "PX7702_RevA \u2014 cut short");
    // The bit panel still shows the frame the handler computed.
    EXPECT_EQ(rig.program->frameWord(), 0x2C00000U);
    EXPECT_EQ(rig.program->controls().vsbBit[25].Value(), 1);
}

// A scroll bar's failure names the bar as the operator sees it, with the value
// it was moved to, not by pxctl's word for the event.
TEST(ScrollBarFailure, TheDialogNamesTheBarByItsPlaceAndValue) {
    for (const auto& [name, value, subject] : std::vector<std::tuple<const char*, int, std::string>>{
             {"vsbInputCode1", 1, "The channel 1 code bar, at 1,"},
             {"vsbInputCode2", 200, "The channel 2 code bar, at 200,"}}) {
        Rig rig(commands::kDescriptorB);
        rig.port.failAfter(1);
        rig.bar(name)->setValue(value);
        QMessageBox* dialog = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            dialog = rig.window->findChild<QMessageBox*>("portError");
            return dialog != nullptr && dialog->isVisible();
        }, 2000));
        EXPECT_EQ(dialog->informativeText().toStdString(),
                  subject + " stopped at the failing port access: its frame was not sent. The next action tries the "
                            "port again.");
        dialog->accept();
    }
}

}  // namespace

namespace {

// A port library that throws, of either kind, at its twelfth write: the window
// says what reached the port as pxctl does (cut short after 11 of 59 writes).
class ThrowingLibrary : public testing::TestWithParam<std::string> {};

TEST_P(ThrowingLibrary, IsADialogThatSaysWhatReachedThePort) {
    const std::string library = testing::TempDir() + "px77xx_window_fault_" + GetParam() + ".so";
    std::filesystem::copy_file(SLOW_PORT_LIBRARY, library, std::filesystem::copy_options::overwrite_existing);
    ::setenv("PX77XX_PORT_FAULT", (GetParam() + ":12").c_str(), 1);
    ::setenv("PX77XX_PORT_WAIT_MS", "0", 1);
    ports::Opened opened = ports::openPort("lib:path=" + library);
    auto program = commands::kDescriptorB.make(*opened.port);
    ui::Window window(commands::kDescriptorB, *program);
    window.setPortLabel(opened.label);
    window.showCentred();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(static_cast<QPushButton*>(window.widget("cmdRun")), Qt::LeftButton);
    QMessageBox* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        dialog = window.findChild<QMessageBox*>("portError");
        return dialog != nullptr && dialog->isVisible();
    }, 2000));
    ::unsetenv("PX77XX_PORT_FAULT");
    EXPECT_EQ(dialog->text().toStdString(),
              "lib " + library + ": the port library threw in OutportW" +
                  (GetParam() == "throw" ? ": cable unplugged" : " something that is not a std::exception"));
    EXPECT_EQ(dialog->informativeText(),
              "Run stopped at the failing port access: it was cut short after 11 of 59 writes. The next action tries "
              "the port again.");
    EXPECT_EQ(window.windowTitle().toStdString(), "PX7702_RevA \u2014 lib " + library + " \u2014 cut short");
}

INSTANTIATE_TEST_SUITE_P(Kinds, ThrowingLibrary, testing::Values("throw", "int"));

}  // namespace
