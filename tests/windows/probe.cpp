// Looks at the Win32 windows from outside, as a user or a screen reader would,
// for the tests under wine: another process in the same session.
//   probe title CAPTION                 the title of the window whose title starts with CAPTION
//   probe dialog TEXT [TIMEOUT_MS [BUTTON]]  waits for a window whose title holds TEXT (a
//                                       message box); prints its title, its owner's title, its
//                                       text and its buttons, then presses OK or BUTTON
//   probe accessible CAPTION            each control's accessible name, role and description
//                                       as a client of Microsoft Active Accessibility reads them
//   probe version FILE                  the version resource's strings and the icon count
//   probe window CAPTION                its client size, frame style, place on the screen
//                                       and tool tips
//   probe send CAPTION close|endsession the close box's message, or the session ending
//   probe frame CAPTION                 the window's frame on the screen: "X Y WIDTH HEIGHT"
// Output is UTF-8, one line each, LF line ends.
#include <windows.h>
#include <initguid.h>  // IID_IAccessible defined here: the import library's is not data
#include <oleacc.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring textOf(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void line(const std::string& text) {
    std::string flat = text;
    for (char& c : flat) {
        if (c == '\r') c = ' ';
    }
    std::fwrite(flat.data(), 1, flat.size(), stdout);
    std::fputc('\n', stdout);
}

std::string className(HWND hwnd) {
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    return narrow(name);
}

// The first visible top-level window whose title starts with (or, for
// contains, holds) the text.
HWND findWindow(const std::wstring& text, bool contains) {
    struct Search {
        std::wstring text;
        bool contains;
        HWND found;
    } search{text, contains, nullptr};
    ::EnumWindows(
        [](HWND hwnd, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            const std::wstring title = textOf(hwnd);
            const bool match = s->contains ? title.find(s->text) != std::wstring::npos : title.rfind(s->text, 0) == 0;
            if (!match || !::IsWindowVisible(hwnd)) return TRUE;
            // A caption's prefix finds the program's window, not its message boxes.
            if (!s->contains && className(hwnd) == "#32770") return TRUE;
            s->found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> found;
    ::EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

int dialog(const std::wstring& text, DWORD timeoutMs, const std::wstring& press) {
    HWND box = nullptr;
    for (DWORD waited = 0; box == nullptr && waited <= timeoutMs; waited += 50) {
        box = findWindow(text, true);
        if (box == nullptr) ::Sleep(50);
    }
    if (box == nullptr) {
        line("no window titled with the text appeared");
        return 1;
    }
    line("dialog: " + narrow(textOf(box)));
    HWND owner = ::GetWindow(box, GW_OWNER);
    line("owner: " + (owner != nullptr ? narrow(textOf(owner)) : std::string("(none)")));
    line(std::string("owner disabled: ") + (owner != nullptr && !::IsWindowEnabled(owner) ? "yes" : "no"));
    // Each button by its caption; OK is pressed, or the one named.
    HWND button = nullptr;
    for (HWND child : children(box)) {
        const std::string kind = className(child);
        if (kind == "Static" && ::GetWindowTextLengthW(child) > 0) line("text: " + narrow(textOf(child)));
        if (kind != "Button") continue;
        line("button: " + narrow(textOf(child)));
        const bool named = press.empty() ? ::GetDlgCtrlID(child) == IDOK : textOf(child) == press;
        if (named || (button == nullptr && press.empty())) button = child;
    }
    if (button == nullptr) {
        line("no button");
        return 1;
    }
    ::PostMessageW(button, BM_CLICK, 0, 0);
    for (int i = 0; i < 100 && ::IsWindow(box); ++i) ::Sleep(50);
    return ::IsWindow(box) ? 1 : 0;
}

std::string bstr(BSTR text) {
    if (text == nullptr) return "";
    std::string out = narrow(std::wstring(text, ::SysStringLen(text)));
    ::SysFreeString(text);
    return out;
}

int accessible(HWND window) {
    ::CoInitialize(nullptr);
    for (HWND child : children(window)) {
        IAccessible* object = nullptr;
        const HRESULT made = ::AccessibleObjectFromWindow(child, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                                          reinterpret_cast<void**>(&object));
        if (FAILED(made)) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(made));
            line(className(child) + " " + std::to_string(::GetDlgCtrlID(child)) + ": no accessible object: " + code);
            continue;
        }
        VARIANT self;
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr, description = nullptr;
        object->get_accName(self, &name);
        object->get_accDescription(self, &description);
        VARIANT role;
        ::VariantInit(&role);
        object->get_accRole(self, &role);
        wchar_t roleText[64] = {};
        if (role.vt == VT_I4) ::GetRoleTextW(static_cast<DWORD>(role.lVal), roleText, 64);
        line(std::to_string(::GetDlgCtrlID(child)) + "\t" + narrow(roleText) + "\t" + bstr(name) + "\t" + bstr(description));
        object->Release();
    }
    ::CoUninitialize();
    return 0;
}

int version(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file, &ignored);
    std::vector<unsigned char> data(size);
    if (size == 0 || !::GetFileVersionInfoW(file, 0, size, data.data())) {
        line("no version resource");
        return 1;
    }
    for (const wchar_t* key : {L"FileDescription", L"FileVersion", L"ProductName", L"OriginalFilename"}) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        if (::VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) && value != nullptr) {
            line(narrow(key) + ": " + narrow(value));
        }
    }
    line("icons: " + std::to_string(::ExtractIconExW(file, -1, nullptr, nullptr, 0)));
    return 0;
}

int window(HWND hwnd) {
    RECT client{}, frame{};
    ::GetClientRect(hwnd, &client);
    ::GetWindowRect(hwnd, &frame);
    line("client: " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
    line(std::string("maximise box: ") + ((style & WS_MAXIMIZEBOX) != 0 ? "yes" : "no"));
    line(std::string("sizing border: ") + ((style & WS_THICKFRAME) != 0 ? "yes" : "no"));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    const long dx = (frame.left - area.left) - (area.right - frame.right);
    const long dy = (frame.top - area.top) - (area.bottom - frame.bottom);
    line(std::string("centred: ") + (dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1 ? "yes" : "no"));
    // Tool tips: the tooltip windows this window owns, and the tools each knows.
    struct Tips {
        HWND owner;
        LRESULT tools;
    } tips{hwnd, 0};
    ::EnumWindows(
        [](HWND candidate, LPARAM parameter) -> BOOL {
            auto* t = reinterpret_cast<Tips*>(parameter);
            if (::GetWindow(candidate, GW_OWNER) == t->owner && className(candidate) == "tooltips_class32") {
                t->tools += ::SendMessageW(candidate, TTM_GETTOOLCOUNT, 0, 0);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&tips));
    line("tool tips: " + std::to_string(tips.tools));
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"title" && argc == 3) {
        HWND window = findWindow(argv[2], false);
        if (window == nullptr) return 1;
        line(narrow(textOf(window)));
        return 0;
    }
    if (command == L"dialog" && argc >= 3) {
        return dialog(argv[2], argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 10000, argc > 4 ? argv[4] : L"");
    }
    if (command == L"accessible" && argc == 3) {
        HWND window = findWindow(argv[2], false);
        return window == nullptr ? 1 : accessible(window);
    }
    if (command == L"version" && argc == 3) return version(argv[2]);
    if (((command == L"window" || command == L"frame") && argc == 3) || (command == L"send" && argc == 4)) {
        HWND found = findWindow(argv[2], false);
        if (found == nullptr) {
            line("no window");
            return 1;
        }
        if (command == L"window") return window(found);
        if (command == L"frame") {
            RECT r{};
            ::GetWindowRect(found, &r);
            line(std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + " " +
                 std::to_string(r.bottom - r.top));
            return 0;
        }
        const std::wstring what = argv[3];
        if (what == L"close") return ::PostMessageW(found, WM_CLOSE, 0, 0) ? 0 : 1;
        if (what == L"endsession") {
            const LRESULT agreed = ::SendMessageW(found, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
            line(std::string("agrees to end: ") + (agreed != 0 ? "yes" : "no"));
            ::SendMessageW(found, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
            return 0;
        }
    }
    std::fputs("usage: probe title|dialog|accessible|version ...\n", stderr);
    return 2;
}
