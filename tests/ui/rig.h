// One program's window on a recording port, shown offscreen.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "recording_port.h"
#include "view/layout.h"
#include "ui/qt/window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace testing_support {

// Where to click on a scroll bar: an arrow or the track beyond the thumb.
inline QPoint pointOf(QScrollBar* bar, QStyle::SubControl part) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar).center();
}

struct Rig {
    RecordingPort port;
    std::unique_ptr<commands::Program> program;
    std::unique_ptr<ui::Window> window;
    int exits = 0;

    explicit Rig(bool programA)
        : Rig(*commands::programs()[programA ? 0 : 1]) {}
    explicit Rig(const commands::Descriptor& descriptor)
        : program(descriptor.make(port)), window(std::make_unique<ui::Window>(descriptor, *program)) {
        window->setExitAction([this] { ++exits; });
        window->showCentred();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // Access keys need the active window; without a window manager (Xvfb)
        // nothing activates it on its own.
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QScrollBar* bar(const char* name, int index = -1) { return static_cast<QScrollBar*>(window->widget(name, index)); }
    QLineEdit* box(const char* name, int index = -1) { return static_cast<QLineEdit*>(window->widget(name, index)); }
    QPushButton* button(const char* name) { return static_cast<QPushButton*>(window->widget(name)); }
};

}  // namespace testing_support
