// The port chooser's Qt view, driven as an operator drives it: by the
// keyboard (the list's arrows, Alt with a button's letter, Enter on a port)
// and by the mouse; and the failure dialog's button that opens it.
#include "ui/qt/chooser.h"
#include "ui/chooser_services.h"
#include "ports/detect.h"
#include "rig.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

struct Services {
    std::vector<std::string> saved;
    view::ChooserServices make() {
        return {[] {
                    return std::vector<view::PortRow>{{"ppdev:dev=/dev/parport0", "parallel port", false, "add your user to lp"},
                                                      {"sim", "the simulated board", true, ""},
                                                      {"sim:address=0x2d", "another board", true, ""}};
                },
                [](const std::string& port) { return "A device answered at 0x2c on " + port + "."; },
                [this](const std::string& port) {
                    saved.push_back(port);
                    return "Saved " + port + ".";
                },
                ""};
    }
};

struct Shown {
    ui::ChooserDialog dialog;
    explicit Shown(view::ChooserServices services) : dialog(std::move(services)) {
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
    template <class T>
    T* find(const char* name) { return dialog.findChild<T*>(QString::fromLatin1(name)); }
    QString text(const char* name) { return find<QLabel>(name)->text(); }
};

TEST(ChooserWindow, TheKeyboardSelectsTestsAndChooses) {
    Services services;
    Shown shown(services.make());
    QListWidget* list = shown.find<QListWidget>("lstPorts");
    ASSERT_EQ(list->count(), 3);
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(list->currentRow(), 1);  // the first usable one
    EXPECT_EQ(shown.text("lblDetail"), "sim\nthe simulated board\nUsable.");

    QTest::keyClick(list, Qt::Key_Up);
    QTRY_COMPARE(shown.text("lblDetail"), QString("ppdev:dev=/dev/parport0\nparallel port\nNot usable: add your user to lp"));
    EXPECT_FALSE(shown.find<QPushButton>("cmdTest")->isEnabled());
    EXPECT_FALSE(shown.find<QPushButton>("cmdUse")->isEnabled());

    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(&shown.dialog, Qt::Key_T, Qt::AltModifier);
    QTRY_COMPARE(shown.text("lblStatus"), QString("A device answered at 0x2c on sim:address=0x2d."));
    QTest::keyClick(list, Qt::Key_Return);  // Enter on a port chooses it
    QTRY_VERIFY(!shown.dialog.isVisible());
    EXPECT_EQ(shown.dialog.result(), QDialog::Accepted);
    EXPECT_EQ(services.saved, std::vector<std::string>{"sim:address=0x2d"});
    EXPECT_EQ(shown.dialog.chosen(), "sim:address=0x2d");
}

TEST(ChooserWindow, TheMouseChoosesAndCloseChoosesNothing) {
    Services services;
    {
        Shown shown(services.make());
        QListWidget* list = shown.find<QListWidget>("lstPorts");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(2)).center());
        QTRY_COMPARE(list->currentRow(), 2);
        QTest::mouseClick(shown.find<QPushButton>("cmdUse"), Qt::LeftButton);
        QTRY_VERIFY(!shown.dialog.isVisible());
        EXPECT_EQ(services.saved, std::vector<std::string>{"sim:address=0x2d"});
    }
    Shown again(services.make());
    QTest::keyClick(&again.dialog, Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(!again.dialog.isVisible());
    EXPECT_EQ(again.dialog.result(), QDialog::Rejected);
    EXPECT_EQ(services.saved.size(), 1U);
}

// With the program's own services: the list is what detect finds, and Test
// probes the port selected at the program's address.
TEST(ChooserWindow, ListsWhatDetectFindsAndTestsThePortSelected) {
    const auto found = ports::detectPorts();
    Shown shown(ui::chooserServices(*commands::programs()[1], 0x2c));
    QListWidget* list = shown.find<QListWidget>("lstPorts");
    ASSERT_EQ(list->count(), static_cast<int>(found.size()));
    int sim = -1;
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_TRUE(list->item(static_cast<int>(i))->text().startsWith(QString::fromStdString(found[i].port + "  ")));
        if (found[i].port == "sim") sim = static_cast<int>(i);
    }
    ASSERT_GE(sim, 0);
    list->setCurrentRow(sim);
    QTest::mouseClick(shown.find<QPushButton>("cmdTest"), Qt::LeftButton);
    QTRY_COMPARE(shown.text("lblStatus"), QString("A device answered at 0x2c on sim."));
}

TEST(ChooserWindow, TheFailureDialogOffersIt) {
    Rig rig(false);
    int opened = 0;
    rig.window->setChooser([&opened] { ++opened; });
    rig.port.failAlways = true;
    QTest::mouseClick(rig.button("cmdMS"), Qt::LeftButton);
    QMessageBox* dialog = nullptr;
    QTRY_VERIFY((dialog = rig.window->findChild<QMessageBox*>("portError")) != nullptr && dialog->isVisible());
    auto* choose = dialog->findChild<QPushButton*>("cmdChoosePort");
    ASSERT_NE(choose, nullptr);
    EXPECT_EQ(choose->text(), QString::fromUtf8("&Choose the port\u2026"));
    QTest::mouseClick(choose, Qt::LeftButton);
    QTRY_COMPARE(opened, 1);
    EXPECT_FALSE(dialog->isVisible());
}

}  // namespace
