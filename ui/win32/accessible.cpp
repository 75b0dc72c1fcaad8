// What a screen reader is told of the Win32 window's controls.
#include "ui/win32/window.h"

#include "platform/windows/text.h"
#include "view/accessible.h"

#include <initguid.h>  // the PROPID_ACC_* and CLSID_AccPropServices GUIDs, defined here
#include <oleacc.h>

namespace ui::win32 {

using platform::widen;

// Dynamic Annotation: each system control keeps the accessible object the
// system made for it (role, state, value, actions), and only its name and
// description are overridden. Microsoft UI Automation's proxies for Win32
// controls read the same annotations, so both APIs' clients hear them.
void Window::annotate() {
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  reinterpret_cast<void**>(&accessibility_)))) {
        accessibility_ = nullptr;
        return;
    }
    for (const Control& c : controls_) {
        const view::AccessibleText text = view::accessibleText(descriptor_, *c.spec);
        if (c.hwnd == nullptr || text.name.empty()) continue;
        accessibility_->SetHwndPropStr(c.hwnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                                       widen(text.name).c_str());
        accessibility_->SetHwndPropStr(c.hwnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                       PROPID_ACC_DESCRIPTION, widen(text.description).c_str());
    }
}

void Window::forgetAnnotations() {
    if (accessibility_ == nullptr) return;
    const MSAAPROPID props[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
    for (const Control& c : controls_) {
        if (c.hwnd == nullptr) continue;
        accessibility_->ClearHwndProps(c.hwnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, props, 2);
    }
    accessibility_->Release();
    accessibility_ = nullptr;
}

}  // namespace ui::win32
