// The Win32 window: the table's rows made as the system's controls, their
// notifications turned into the model's events, and the model's changes shown.
// Drawing and DPI are in draw.cpp, the keys in keys.cpp, the screen reader's
// names in accessible.cpp.
#include "ui/win32/window.h"

#include "platform/windows/text.h"
#include "ui/win32/system.h"
#include "view/window_text.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <stdexcept>

namespace ui::win32 {
namespace {

constexpr wchar_t kClassName[] = L"PX77xxWindow";
constexpr UINT kShowFailure = WM_APP + 1;
constexpr UINT kShowNotice = WM_APP + 2;
constexpr int kFirstId = 100;

using platform::widen;

}  // namespace

Window::Window(const commands::Descriptor& descriptor, commands::Program& program)
    : descriptor_(descriptor),
      spec_(view::windowFor(descriptor)),
      program_(program),
      index_(descriptor, spec_),
      state_(spec_.caption) {
    INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&common);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (!::GetClassInfoExW(::GetModuleHandleW(nullptr), kClassName, &wc)) {
        wc.lpfnWndProc = &Window::procedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));  // the program's icon, resource 1
        wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kClassName;
        if (::RegisterClassExW(&wc) == 0) throw std::runtime_error("cannot register the window class");
    }
    windowBrush_ = ::CreateSolidBrush(colourOf(spec_.back));
    hwnd_ = ::CreateWindowExW(0, kClassName, widen(spec_.caption).c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                              100, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    if (hwnd_ == nullptr) throw std::runtime_error("cannot create the window");
    dpi_ = dpiOf(hwnd_);
    createControls();
    place(dpi_);
    annotate();
    program_.setExitHandler([this] {
        if (exit_) {
            exit_();
        } else {
            exitNow();
        }
    });
    program_.controls().setObserver(this);
    updateTitle();
}

Window::~Window() {
    program_.controls().setObserver(nullptr);
    program_.setExitHandler(nullptr);
    forgetAnnotations();
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    for (auto& [key, font] : fonts_) ::DeleteObject(font);
    for (auto& [key, brush] : brushes_) ::DeleteObject(brush);
    ::DeleteObject(windowBrush_);
}

HWND Window::control(const std::string& name, int index) const {
    const view::ControlSpec* c = spec_.find(name, index);
    return c == nullptr ? nullptr : controls_[static_cast<std::size_t>(c - spec_.controls.data())].hwnd;
}

void Window::exitNow() {
    ::ShowWindow(hwnd_, SW_HIDE);
    ::PostQuitMessage(0);
}

void Window::createControls() {
    // Z order is creation order, the first on top.
    const std::vector<std::size_t> rows = view::stackingOrder(spec_);
    controls_.resize(spec_.controls.size());
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    for (const std::size_t row : rows) {
        const view::ControlSpec& c = spec_.controls[row];
        Control& made = controls_[row];
        made.spec = &c;
        made.look = view::resolvedLook(spec_, c);
        made.binding = &index_.binding(row);
        // A rectangle is an outline the window draws beneath its controls (a
        // child window would hide what lies inside it).
        if (c.kind == view::Kind::Rectangle) continue;
        const wchar_t* kind = L"STATIC";
        std::wstring text;
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (c.hidden ? 0 : WS_VISIBLE);
        DWORD exStyle = 0;
        switch (c.kind) {
            case view::Kind::ScrollBar:
                kind = L"SCROLLBAR";
                style |= SBS_VERT | WS_TABSTOP;
                break;
            case view::Kind::TextBox:
                kind = L"EDIT";
                style |= ES_AUTOHSCROLL | (c.look.align == view::Align::Center ? ES_CENTER : ES_LEFT);
                exStyle = WS_EX_CLIENTEDGE;
                break;
            case view::Kind::Button:
                kind = L"BUTTON";
                // Owner-drawn: the system's push button cannot take a face colour.
                style |= BS_OWNERDRAW | WS_TABSTOP;
                text = widen(c.caption);
                break;
            case view::Kind::Label:
                style |= SS_NOPREFIX |
                         (c.look.align == view::Align::Center ? SS_CENTER
                                                              : (c.look.wrap ? SS_LEFT : SS_LEFTNOWORDWRAP));
                text = widen(c.caption);
                break;
            case view::Kind::Rectangle: break;
        }
        made.hwnd = ::CreateWindowExW(exStyle, kind, text.c_str(), style, 0, 0, 1, 1, hwnd_,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + static_cast<int>(row))),
                                      instance, nullptr);
        if (made.hwnd == nullptr) throw std::runtime_error("cannot create " + c.fullName());
        if (c.kind == view::Kind::ScrollBar) {
            const controls::ScrollBar& bar = program_.controls().scrollBar(*index_.binding(row).model);
            SCROLLINFO info{sizeof info, SIF_RANGE | SIF_POS | SIF_PAGE, bar.Min(), c.max, 0, bar.Value(), 0};
            ::SetScrollInfo(made.hwnd, SB_CTL, &info, FALSE);
        }
    }
    for (const view::ControlRef& ref : view::tabOrder(spec_)) tabOrder_.push_back(control(ref.name, ref.index));

    // Tool tips on the buttons that have one.
    tips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance,
                              nullptr);
    for (Control& c : controls_) {
        if (c.hwnd == nullptr || c.spec->toolTip.empty() || tips_ == nullptr) continue;
        std::wstring tip = widen(c.spec->toolTip);
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = hwnd_;
        tool.uId = reinterpret_cast<UINT_PTR>(c.hwnd);
        tool.lpszText = tip.data();
        ::SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

Window::Control* Window::controlOf(HWND hwnd) {
    const int id = ::GetDlgCtrlID(hwnd) - kFirstId;
    if (id < 0 || static_cast<std::size_t>(id) >= controls_.size() || controls_[static_cast<std::size_t>(id)].hwnd != hwnd) {
        return nullptr;
    }
    return &controls_[static_cast<std::size_t>(id)];
}

HWND Window::modelControl(controls::ControlId id) const {
    const auto row = index_.rowOf(id);
    return row ? controls_[*row].hwnd : nullptr;
}

LRESULT CALLBACK Window::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->controls_.empty()) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT r{};
            ::GetClientRect(hwnd_, &r);
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::FillRect(dc, &r, windowBrush_);
            const double scale = view::pixelsPerTwip(static_cast<int>(dpi_));
            HBRUSH black = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
            for (const view::ControlSpec& c : spec_.controls) {
                if (c.kind != view::Kind::Rectangle || c.hidden) continue;
                const view::PixelRect p = view::toPixels(c, scale);
                const RECT outline{p.left, p.top, p.left + p.width, p.top + p.height};
                ::FrameRect(dc, &outline, black);
            }
            return 1;
        }
        case WM_VSCROLL:
            if (Control* c = controlOf(reinterpret_cast<HWND>(lParam))) scrolled(*c, LOWORD(wParam));
            return 0;
        case WM_COMMAND: {
            Control* c = controlOf(reinterpret_cast<HWND>(lParam));
            if (c == nullptr) break;
            const WORD code = HIWORD(wParam);
            // An owner-drawn button reports a quick second click as a double
            // click: it is a click all the same.
            if (c->spec->kind == view::Kind::Button && (code == BN_CLICKED || code == BN_DOUBLECLICKED)) click(*c);
            // Typing changes only the box; the next write of the program shows again.
            if (c->spec->kind == view::Kind::TextBox && code == EN_CHANGE && !settingText_) {
                program_.controls().textBox(*c->binding->model).operatorEdited();
            }
            return 0;
        }
        case WM_DRAWITEM: drawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
        case WM_CTLCOLORSTATIC: return colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), false);
        case WM_CTLCOLOREDIT: return colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), true);
        case kShowFailure: showFailure(); return 0;
        case kShowNotice: {
            const std::string text = std::move(notice_);
            wchar_t title[256] = {};
            ::GetWindowTextW(hwnd_, title, 256);
            ::MessageBoxW(hwnd_, widen(text).c_str(), title, MB_OK | MB_ICONWARNING);
            return 0;
        }
        case WM_CLOSE:
            clickExit();
            return 0;
        case WM_QUERYENDSESSION: return TRUE;
        case WM_ENDSESSION:
            // Logging off: the process may end as soon as this returns, so Exit
            // runs now, between two events, as the close box's does.
            if (wParam != FALSE) program_.cmdExit_Click();
            return 0;
        case WM_DPICHANGED: {
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            place(HIWORD(wParam));
            ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            return 0;
        }
        default: break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Window::scrolled(Control& c, int code) {
    controls::ScrollBar& bar = program_.controls().scrollBar(*c.binding->model);
    int target = bar.Value();
    switch (code) {
        case SB_LINEUP: target -= c.spec->smallChange; break;
        case SB_LINEDOWN: target += c.spec->smallChange; break;
        case SB_PAGEUP: target -= c.spec->largeChange; break;
        case SB_PAGEDOWN: target += c.spec->largeChange; break;
        case SB_TOP: target = bar.Min(); break;
        case SB_BOTTOM: target = bar.Max(); break;
        case SB_THUMBPOSITION: {  // a drag ends: one Change, on release
            SCROLLINFO info{sizeof info, SIF_TRACKPOS, 0, 0, 0, 0, 0};
            ::GetScrollInfo(c.hwnd, SB_CTL, &info);
            target = info.nTrackPos;
            break;
        }
        default: return;  // SB_THUMBTRACK, SB_ENDSCROLL: no Change
    }
    target = std::clamp(target, bar.Min(), bar.Max());
    if (!state_.accepting() || target == bar.Value()) {
        // The gesture that failed is over, or nothing changes: the thumb goes
        // back to the model's value and nothing reaches the port.
        ::SetScrollPos(c.hwnd, SB_CTL, bar.Value(), TRUE);
        return;
    }
    activeBar_ = c.hwnd;
    // Named as pxctl names the same event in the trace ("code1=200", "bit:3=1"),
    // and by the control in the dialog.
    const view::ChangeNames names = view::changeNames(*c.binding, target);
    dispatch(names.label, names.shown, [&] { bar.setValue(target); });
    activeBar_ = nullptr;
}

void Window::click(Control& c) {
    if (!state_.accepting()) return;
    const commands::Command* command = c.binding->command;
    dispatch(command->word, c.binding->shown, [this, command] { command->run(program_); });
}

// Ctrl+Q, the close box and Alt+F4: E&xit's own click.
void Window::clickExit() {
    const view::ControlRef exit = view::exitButton(spec_);
    if (Control* c = controlOf(control(exit.name, exit.index))) click(*c);
}

void Window::dispatch(std::string_view label, std::string_view shown, const std::function<void()>& run) {
    view::dispatch(program_, sources_, *this, label, shown, run);
}

void Window::reached() {
    if (state_.reached()) updateTitle();
}

void Window::notice(const std::string& text) {
    notice_ = text;
    ::PostMessageW(hwnd_, kShowNotice, 0, 0);
}

// A failure ends the gesture now: a held arrow would go on repeating behind the
// message box. The scroll bar's own loop ends at a button release, which the
// release posted here is, and the message box is posted after it.
void Window::endGesture() {
    if (activeBar_ == nullptr || ::GetCapture() != activeBar_) return;
    POINT at{};
    ::GetCursorPos(&at);
    ::ScreenToClient(activeBar_, &at);
    ::PostMessageW(activeBar_, WM_LBUTTONUP, 0,
                   MAKELPARAM(static_cast<WORD>(static_cast<short>(at.x)), static_cast<WORD>(static_cast<short>(at.y))));
}

void Window::failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery) {
    const bool queue = state_.failed(shown, message, delivery);
    updateTitle();
    if (queue) ::PostMessageW(hwnd_, kShowFailure, 0, 0);
}

namespace {

// The message box's Help button becomes "Choose the port…", which ends the
// box as its other buttons do, with IDHELP (wine's box does nothing with its
// Help button, and Windows' only sends WM_HELP): the box is named and its
// procedure wrapped as it appears, by a hook on this thread while it is up.
constexpr wchar_t kBoxProcedure[] = L"px77xx box procedure";

LRESULT CALLBACK chooseButtonEnds(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto previous = reinterpret_cast<WNDPROC>(::GetPropW(box, kBoxProcedure));
    if (message == WM_COMMAND && LOWORD(wParam) == IDHELP) {
        ::EndDialog(box, IDHELP);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        ::RemovePropW(box, kBoxProcedure);
    }
    return ::CallWindowProcW(previous, box, message, wParam, lParam);
}

LRESULT CALLBACK nameChooseButton(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        const auto box = reinterpret_cast<HWND>(wParam);
        HWND help = ::GetDlgItem(box, IDHELP);
        if (help != nullptr && ::GetPropW(box, kBoxProcedure) == nullptr) {
            ::SetWindowTextW(help, L"&Choose the port\u2026");
            ::SetPropW(box, kBoxProcedure, reinterpret_cast<HANDLE>(::GetWindowLongPtrW(box, GWLP_WNDPROC)));
            ::SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(chooseButtonEnds));
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);  // the hook's handle is ignored
}

}  // namespace

void Window::showFailure() {
    const view::WindowState::FailureDialog dialog = state_.showFailure();
    UINT style = MB_OK | MB_ICONERROR;
    HHOOK hook = nullptr;
    if (choose_) {
        style |= MB_HELP;
        hook = ::SetWindowsHookExW(WH_CBT, nameChooseButton, nullptr, ::GetCurrentThreadId());
    }
    const int pressed =
        ::MessageBoxW(hwnd_, widen(dialog.message + "\n\n" + dialog.sent).c_str(), widen(dialog.title).c_str(), style);
    if (hook != nullptr) ::UnhookWindowsHookEx(hook);
    state_.failureClosed();
    if (pressed == IDHELP && choose_) choose_();
}

void Window::setPortLabel(const std::string& label) {
    state_.setPortLabel(label);
    updateTitle();
}

void Window::updateTitle() {
    ::SetWindowTextW(hwnd_, widen(state_.title()).c_str());
}

void Window::valueChanged(controls::ControlId id, int value) {
    HWND bar = modelControl(id);
    if (bar != nullptr && ::GetScrollPos(bar, SB_CTL) != value) ::SetScrollPos(bar, SB_CTL, value, TRUE);
}

void Window::textChanged(controls::ControlId id, std::string_view text) {
    HWND box = modelControl(id);
    if (box == nullptr) return;
    const std::wstring shown = widen(text);
    std::wstring current(static_cast<std::size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
    current.resize(static_cast<std::size_t>(::GetWindowTextW(box, current.data(), static_cast<int>(current.size()))));
    if (current == shown) return;
    settingText_ = true;
    ::SetWindowTextW(box, shown.c_str());
    settingText_ = false;
}

}  // namespace ui::win32
