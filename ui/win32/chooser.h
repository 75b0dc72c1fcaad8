// The port chooser's Win32 view: the system's LISTBOX, STATIC and BUTTON
// controls from view::chooserSpec(), what view::PortChooser decides shown,
// the operator's events forwarded to it. Modal over its owner, as a dialog is.
#pragma once

#include "view/chooser.h"

#include <windows.h>

#include <optional>
#include <string>

namespace ui::win32 {

// Shows the chooser until it is closed; the port saved, where one was.
std::optional<std::string> choosePort(view::ChooserServices services, HWND owner);

}  // namespace ui::win32
