// One operator window on Windows, made of the system's own controls (SCROLLBAR,
// EDIT, BUTTON, STATIC) from the window's table and bound to a program object's
// controls, as the Qt window is on Linux: it draws the model and turns the
// operator's actions into the model's events, and holds no logic of its own.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "controls/controls.h"
#include "view/dispatch.h"
#include "view/layout.h"
#include "view/window_state.h"
#include "view/window_text.h"

#include <windows.h>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct IAccPropServices;

namespace ui::win32 {

class Window final : private controls::ControlObserver, private view::EventView {
public:
    // Makes the window and its controls, hidden; showCentred() shows it.
    Window(const commands::Descriptor& descriptor, commands::Program& program);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND handle() const { return hwnd_; }
    // The control made for a table row, or nullptr.
    HWND control(const std::string& name, int index = -1) const;

    // Which port the program uses, shown in the title after the caption.
    void setPortLabel(const std::string& label);
    // Told the name of every operator action before it runs ("code2=200", "mid").
    void setActionListener(std::function<void(const std::string&)> listener) { sources_.actionListener = std::move(listener); }
    // Asked after every action for a problem that is not a port failure.
    void setNoticeSource(std::function<std::optional<std::string>()> source) { sources_.notices = std::move(source); }
    // Asked before every operator event: once it says stop, the event runs
    // nothing and the window exits as E&xit does.
    void setStopCheck(std::function<bool()> stopping) { sources_.stopping = std::move(stopping); }
    // What "E&xit" does; by default the window is destroyed and the loop ends.
    void setExitAction(std::function<void()> action) { exit_ = std::move(action); }
    // What the failure dialog's "Choose the port…" button does; none, no button.
    void setChooser(std::function<void()> choose) { choose_ = std::move(choose); }

    // Centres the window on the work area of its monitor and shows it.
    void showCentred();

    // The keys the window answers before the focused control sees them: Tab and
    // Shift+Tab in the table's order, Enter on a button, Alt with an access
    // key, Ctrl+Q. True when the message was taken; the loop then skips it.
    bool preTranslate(const MSG& message);

    // The one place an operator event reaches the program, as in the Qt window:
    // a port failure ends the gesture, marks the title and is shown in a
    // message box posted to run after the event has returned.
    void dispatch(std::string_view label, std::string_view shown, const std::function<void()>& run);

private:
    struct Control {
        const view::ControlSpec* spec = nullptr;
        HWND hwnd = nullptr;                   // none for a rectangle, which the window draws
        const view::ControlBinding* binding = nullptr;  // what its event runs, and its model control
        view::ResolvedLook look{};
    };

    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void place(unsigned dpi);
    HFONT fontFor(const view::ResolvedLook& look);
    void scrolled(Control& control, int code);
    void click(Control& control);
    void clickExit();
    void drawButton(const DRAWITEMSTRUCT& item);
    LRESULT colour(HDC dc, HWND child, bool edit);
    void annotate();
    void forgetAnnotations();
    void moveFocus(bool backwards);
    void failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery) override;
    void reached() override;
    void notice(const std::string& text) override;
    void endGesture() override;
    void showFailure();
    void updateTitle();
    void exitNow();
    Control* controlOf(HWND hwnd);
    void valueChanged(controls::ControlId id, int value) override;
    void textChanged(controls::ControlId id, std::string_view text) override;
    HWND modelControl(controls::ControlId id) const;

    const commands::Descriptor& descriptor_;
    view::WindowSpec spec_;
    commands::Program& program_;
    view::ControlIndex index_;
    view::WindowState state_;
    HWND hwnd_ = nullptr;
    HWND tips_ = nullptr;
    unsigned dpi_ = 96;
    std::vector<Control> controls_;  // in table order
    std::vector<HWND> tabOrder_;
    std::map<std::pair<int, bool>, HFONT> fonts_;  // by tenths of a point and weight
    std::map<COLORREF, HBRUSH> brushes_;
    HBRUSH windowBrush_ = nullptr;
    IAccPropServices* accessibility_ = nullptr;
    HWND activeBar_ = nullptr;  // the scroll bar whose Change is being dispatched
    bool settingText_ = false;  // the program, not the operator, is writing a box
    std::string notice_;
    view::EventSources sources_;
    std::function<void()> exit_;
    std::function<void()> choose_;
};

}  // namespace ui::win32
