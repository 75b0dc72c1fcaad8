// The Win32 window's drawing, which is the system's business: placing the
// controls in pixels at the window's DPI, the fonts, the colours of labels and
// text boxes, the owner-drawn buttons with their face colour.
#include "ui/win32/window.h"

#include "platform/windows/text.h"
#include "ui/win32/system.h"

#include <algorithm>

namespace ui::win32 {
namespace {

using platform::widen;

template <typename F>
F systemFunction(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

// The DPI functions came with Windows 10; before it, the system DPI serves.
unsigned dpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = systemFunction<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi != nullptr) return getDpi(hwnd);
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, dc);
    return static_cast<unsigned>(dpi);
}

namespace {

RECT frameFor(int clientWidth, int clientHeight, unsigned dpi) {
    using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = systemFunction<AdjustFn>("AdjustWindowRectExForDpi");
    RECT r{0, 0, clientWidth, clientHeight};
    if (adjust != nullptr) {
        adjust(&r, kStyle, FALSE, 0, dpi);
    } else {
        ::AdjustWindowRectEx(&r, kStyle, FALSE, 0);
    }
    return r;
}

}  // namespace

HFONT Window::fontFor(const view::ResolvedLook& look) {
    const int tenths = static_cast<int>(look.points * 10 + 0.5);
    const auto key = std::make_pair(tenths, look.bold);
    if (const auto it = fonts_.find(key); it != fonts_.end()) return it->second;
    const int height = -::MulDiv(tenths, static_cast<int>(dpi_), 720);
    HFONT font = ::CreateFontW(height, 0, 0, 0, look.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                               widen(view::kWindowsFace).c_str());
    fonts_[key] = font;
    return font;
}

void Window::place(unsigned dpi) {
    dpi_ = dpi;
    // The old fonts go once every control holds one made for the new DPI.
    std::map<std::pair<int, bool>, HFONT> old;
    old.swap(fonts_);
    const double scale = view::pixelsPerTwip(static_cast<int>(dpi));
    for (Control& c : controls_) {
        if (c.hwnd == nullptr) continue;
        const view::PixelRect r = view::toPixels(*c.spec, scale);
        ::SetWindowPos(c.hwnd, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(c.look)), TRUE);
    }
    for (auto& [key, font] : old) ::DeleteObject(font);
    const RECT frame = frameFor(view::toPixels(spec_.width, scale), view::toPixels(spec_.height, scale), dpi);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::showCentred() {
    RECT window{};
    ::GetWindowRect(hwnd_, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    ::SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::ShowWindow(hwnd_, SW_SHOWNORMAL);
    ::UpdateWindow(hwnd_);
    if (!tabOrder_.empty()) ::SetFocus(tabOrder_.front());  // where the keyboard starts
}

LRESULT Window::colour(HDC dc, HWND child, bool edit) {
    const Control* c = controlOf(child);
    if (c == nullptr) return ::DefWindowProcW(hwnd_, edit ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC,
                                              reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child));
    const COLORREF backColour = colourOf(c->look.back.value_or(spec_.back));
    ::SetTextColor(dc, colourOf(c->look.text));
    ::SetBkColor(dc, backColour);
    HBRUSH& brush = brushes_[backColour];
    if (brush == nullptr) brush = ::CreateSolidBrush(backColour);
    return reinterpret_cast<LRESULT>(brush);
}

void Window::drawButton(const DRAWITEMSTRUCT& item) {
    const Control* c = controlOf(item.hwndItem);
    if (c == nullptr) return;
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const view::ResolvedLook& look = c->look;
    const COLORREF face = look.back ? colourOf(*look.back) : ::GetSysColor(COLOR_BTNFACE);
    HBRUSH& brush = brushes_[face];
    if (brush == nullptr) brush = ::CreateSolidBrush(face);
    ::FillRect(dc, &r, brush);
    ::DrawEdge(dc, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

    const std::wstring caption = widen(c->spec->caption);
    RECT text = r;
    ::InflateRect(&text, -4, -3);
    if (pressed) ::OffsetRect(&text, 1, 1);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, colourOf(look.text));
    HGDIOBJ previous = ::SelectObject(dc, fontFor(look));
    const UINT format = DT_CENTER | DT_WORDBREAK | ((item.itemState & ODS_NOACCEL) != 0 ? DT_HIDEPREFIX : 0);
    RECT measured = text;
    ::DrawTextW(dc, caption.c_str(), -1, &measured, format | DT_CALCRECT);
    text.top += std::max(0L, ((text.bottom - text.top) - (measured.bottom - measured.top)) / 2);
    ::DrawTextW(dc, caption.c_str(), -1, &text, format);
    ::SelectObject(dc, previous);
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT focus = r;
        ::InflateRect(&focus, -3, -3);
        ::DrawFocusRect(dc, &focus);
    }
}

}  // namespace ui::win32
