// What the Win32 window's files share: the frame's style, the colours and the
// DPI of the system.
#pragma once

#include "view/layout.h"

#include <windows.h>

namespace ui::win32 {

inline constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

inline COLORREF colourOf(view::Rgb c) { return RGB(c.r, c.g, c.b); }

// The window's DPI; before Windows 10, the system's.
unsigned dpiOf(HWND hwnd);

}  // namespace ui::win32
