// One operator window, built from its layout table and bound to a program
// object's controls. It draws the model and turns the operator's actions into
// the model's events; it holds no logic of its own.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "controls/controls.h"
#include "ui/layout.h"

#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <string>
#include <utility>

class QLineEdit;
class QMessageBox;
class QScrollBar;

namespace ui {

class Window final : public QWidget, private controls::ControlObserver {
public:
    Window(const commands::Descriptor& descriptor, commands::Program& program, QWidget* parent = nullptr);
    ~Window() override;

    const WindowSpec& spec() const { return spec_; }
    commands::Program& program() { return program_; }

    // The widget built for a table row, or nullptr.
    QWidget* widget(const std::string& name, int index = -1) const;

    // Pixels per twip: 15 twips a pixel at 96 dots per inch, scaled with the screen.
    double scale() const { return scale_; }
    int px(int twips) const;

    // What "E&xit" does; by default the window closes, which ends the program.
    void setExitAction(std::function<void()> action) { exit_ = std::move(action); }

    // Shows the window centred on its screen.
    void showCentred();

    // The one place an operator event reaches the program: a port failure is
    // shown in a dialog, the window stays open and the next action tries again.
    void dispatch(const std::function<void()>& action);

private:
    void build();
    QWidget* create(const ControlSpec& c);
    void valueChanged(controls::ControlId id, int value) override;
    void textChanged(controls::ControlId id, std::string_view text) override;
    void showError(const QString& message);
    QWidget* singleWidget(controls::Name name) const;  // a code scroll bar or display

    const commands::Descriptor& descriptor_;
    WindowSpec spec_;
    commands::Program& program_;
    double scale_;
    std::function<void()> exit_;
    std::map<std::pair<std::string, int>, QWidget*> widgets_;
    std::array<QScrollBar*, controls::kBitCount> bitBars_{};
    std::array<QLineEdit*, controls::kBitCount> bitBoxes_{};
    std::map<controls::Name, QWidget*> single_;
    QMessageBox* error_ = nullptr;
};

}  // namespace ui
