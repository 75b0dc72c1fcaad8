// One operator window, built from its layout table and bound to a program
// object's controls. It draws the model and turns the operator's actions into
// the model's events; it holds no logic of its own.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "controls/controls.h"
#include "ui/qt/widgets.h"
#include "view/dispatch.h"
#include "view/window_state.h"
#include "view/window_text.h"

#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QLineEdit;
class QScrollBar;

namespace ui {

class PortDialogs;

class Window final : public QWidget, private controls::ControlObserver, private view::EventView {
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

    // The one place an operator event reaches the program. A port failure ends
    // the gesture that caused it (a held arrow stops repeating), marks the title
    // "not sent" and is shown in one dialog once the event has returned; the
    // window stays open and the next gesture tries the port again. `label`
    // names the action as pxctl and the traces do ("mid", "code1=200");
    // `shown` names it in the dialog.
    void dispatch(std::string_view label, std::string_view shown, const std::function<void()>& run);
    void dispatch(std::string_view action, const std::function<void()>& run) { dispatch(action, action, run); }
    void dispatch(const std::function<void()>& run) { dispatch("action", run); }

    // Told the name of every operator action before it runs ("code2=200",
    // "bit:3=1", "mid"), so that a trace can say what caused what.
    void setActionListener(std::function<void(const std::string&)> listener) { sources_.actionListener = std::move(listener); }

    // Asked before every operator event: once it says the program is to stop
    // (a signal came), the event runs nothing and the window exits as E&xit
    // does, so that clicks queued behind a slow frame send nothing more.
    void setStopCheck(std::function<bool()> stopping) { sources_.stopping = std::move(stopping); }

    // Which port the program uses, shown in the title after the caption.
    void setPortLabel(const std::string& label);
    // The failure dialog offers the port chooser, which this opens.
    void setChooser(std::function<void()> choose);

    // Asked after every action for a problem to report that is not a port
    // failure (a trace file that could not be written); shown once, as a warning.
    void setNoticeSource(std::function<std::optional<std::string>()> source) { sources_.notices = std::move(source); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void orderTabs();
    void bind(std::size_t row);
    void clickExit();
    void bindScrollBar(QScrollBar* bar, const view::ControlBinding& binding);
    void valueChanged(controls::ControlId id, int value) override;
    void textChanged(controls::ControlId id, std::string_view text) override;
    void endGesture() override;
    void failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery) override;
    void reached() override;
    void notice(const std::string& text) override;
    QWidget* modelWidget(controls::ControlId id) const;

    const commands::Descriptor& descriptor_;
    WindowSpec spec_;
    commands::Program& program_;
    view::ControlIndex index_;
    double scale_;
    PortDialogs* dialogs_;
    std::function<void()> exit_;
    std::vector<QWidget*> rows_;  // by table row
    QScrollBar* activeBar_ = nullptr;  // the scroll bar whose Change is being dispatched
    view::EventSources sources_;
};

}  // namespace ui
