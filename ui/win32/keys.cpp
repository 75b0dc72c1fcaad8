// The keys the Win32 window answers itself: Tab in the table's order, Enter on
// a button, Alt with an access key, Ctrl+Q (view::accessKeyButton, view::exitButton).
#include "ui/win32/window.h"

#include <algorithm>

namespace ui::win32 {

void Window::moveFocus(bool backwards) {
    if (tabOrder_.empty()) return;
    const auto at = std::find(tabOrder_.begin(), tabOrder_.end(), ::GetFocus());
    std::size_t next = 0;
    if (at != tabOrder_.end()) {
        const std::size_t i = static_cast<std::size_t>(at - tabOrder_.begin());
        next = backwards ? (i + tabOrder_.size() - 1) % tabOrder_.size() : (i + 1) % tabOrder_.size();
    }
    ::SetFocus(tabOrder_[next]);
}

bool Window::preTranslate(const MSG& message) {
    if (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd)) return false;
    const bool control = ::GetKeyState(VK_CONTROL) < 0;
    if (message.message == WM_KEYDOWN) {
        if (message.wParam == VK_TAB && !control) {
            moveFocus(::GetKeyState(VK_SHIFT) < 0);
            return true;
        }
        Control* focused = controlOf(::GetFocus());
        if (message.wParam == VK_RETURN && focused != nullptr && focused->spec->kind == view::Kind::Button) {
            click(*focused);  // Enter presses a focused button as Space does
            return true;
        }
        if (message.wParam == 'Q' && control) {  // Ctrl+Q, as desktop programs close
            clickExit();
            return true;
        }
    }
    if (message.message == WM_SYSCHAR) {
        if (const auto button = view::accessKeyButton(spec_, static_cast<char32_t>(message.wParam))) {
            if (Control* c = controlOf(this->control(button->name, button->index))) {
                click(*c);
                return true;
            }
        }
    }
    return false;
}

}  // namespace ui::win32
