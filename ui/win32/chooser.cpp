#include "ui/win32/chooser.h"

#include "platform/windows/text.h"
#include "ui/win32/system.h"

#include <map>
#include <stdexcept>

namespace ui::win32 {
namespace {

using platform::widen;

constexpr wchar_t kClass[] = L"PxPortChooser";

class Chooser {
public:
    Chooser(view::ChooserServices services, HWND owner) : model_(std::move(services)), owner_(owner) {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Chooser::procedure;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kClass;
        wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
        ::RegisterClassExW(&wc);  // fails harmlessly where a first chooser registered it

        const view::ChooserSpec& spec = view::chooserSpec();
        hwnd_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClass, widen(spec.caption).c_str(),
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                                  spec.width, spec.height, owner, nullptr, instance, this);
        if (hwnd_ == nullptr) throw std::runtime_error("cannot make the port chooser's window");
        const unsigned dpi = dpiOf(hwnd_);
        const auto scaled = [dpi](int pixels) { return ::MulDiv(pixels, static_cast<int>(dpi), 96); };
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        metrics.lfMessageFont.lfHeight = -::MulDiv(9, static_cast<int>(dpi), 72);
        font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
        int id = 100;
        for (const view::ChooserControl& c : spec.controls) {
            const wchar_t* kind = L"STATIC";
            DWORD style = WS_CHILD | WS_VISIBLE;
            DWORD extended = 0;
            switch (c.kind) {
                case view::ChooserControl::Kind::List:
                    kind = L"LISTBOX";
                    style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
                    extended = WS_EX_CLIENTEDGE;
                    break;
                case view::ChooserControl::Kind::Text:
                    style |= static_cast<DWORD>(SS_LEFT) | (c.name == "lblPorts" ? 0U : static_cast<DWORD>(SS_NOPREFIX));
                    break;
                case view::ChooserControl::Kind::Button:
                    kind = L"BUTTON";
                    style |= WS_TABSTOP | BS_PUSHBUTTON;
                    break;
            }
            HWND child = ::CreateWindowExW(extended, kind, widen(c.caption).c_str(), style, scaled(c.left),
                                           scaled(c.top), scaled(c.width), scaled(c.height), hwnd_,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
            ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
            controls_[c.name] = child;
            ids_[id++] = c.name;
        }
        // The client area at the window's DPI, the frame around it.
        RECT frame{0, 0, scaled(spec.width), scaled(spec.height)};
        ::AdjustWindowRectEx(&frame, WS_POPUP | WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_DLGMODALFRAME);
        RECT area{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        const int width = frame.right - frame.left, height = frame.bottom - frame.top;
        ::SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - width) / 2,
                       area.top + (area.bottom - area.top - height) / 2, width, height, SWP_NOZORDER);
        fill();
    }
    ~Chooser() {
        if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
        if (font_ != nullptr) ::DeleteObject(font_);
    }
    Chooser(const Chooser&) = delete;
    Chooser& operator=(const Chooser&) = delete;

    // Modal over the owner until closed.
    void run() {
        if (owner_ != nullptr) ::EnableWindow(owner_, FALSE);
        ::ShowWindow(hwnd_, SW_SHOW);
        ::SetForegroundWindow(hwnd_);
        ::SetFocus(controls_.at("lstPorts"));
        MSG message;
        while (!done_ && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (::IsDialogMessageW(hwnd_, &message)) continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (owner_ != nullptr) {
            ::EnableWindow(owner_, TRUE);
            ::SetForegroundWindow(owner_);
        }
        ::ShowWindow(hwnd_, SW_HIDE);
    }

    const std::optional<std::string>& chosen() const { return model_.chosen(); }

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<Chooser*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) {
            switch (message) {
                case WM_COMMAND: self->command(LOWORD(wParam), HIWORD(wParam)); return 0;
                case WM_CLOSE: self->done_ = true; return 0;
                default: break;
            }
        }
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }

    void command(int id, int code) {
        // Enter (IDOK from IsDialogMessage) chooses the port selected; Escape closes.
        if (id == IDOK) return use();
        if (id == IDCANCEL) {
            done_ = true;
            return;
        }
        const auto found = ids_.find(id);
        if (found == ids_.end()) return;
        const std::string& name = found->second;
        if (name == "lstPorts") {
            if (code == LBN_SELCHANGE) {
                model_.select(static_cast<int>(::SendMessageW(controls_.at(name), LB_GETCURSEL, 0, 0)));
                update();
            } else if (code == LBN_DBLCLK) {
                use();
            }
        } else if (name == "cmdTest" && code == BN_CLICKED) {
            model_.test();
            update();
        } else if (name == "cmdUse" && code == BN_CLICKED) {
            use();
        } else if (name == "cmdRefresh" && code == BN_CLICKED) {
            model_.refresh();
            fill();
        } else if (name == "cmdClose" && code == BN_CLICKED) {
            done_ = true;
        }
    }

    void use() {
        model_.use();
        update();
        if (model_.chosen()) done_ = true;
    }

    void fill() {
        HWND list = controls_.at("lstPorts");
        ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
        for (const std::string& row : model_.rows()) {
            ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(row).c_str()));
        }
        ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(model_.selected()), 0);
        update();
    }

    void update() {
        const auto text = [this](const char* name, const std::string& value) {
            std::string lines;  // a STATIC breaks lines at CR LF
            for (const char ch : value) lines += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
            ::SetWindowTextW(controls_.at(name), widen(lines).c_str());
        };
        text("lblDetail", model_.detail());
        text("lblStatus", model_.status());
        ::EnableWindow(controls_.at("cmdTest"), model_.canTest());
        ::EnableWindow(controls_.at("cmdUse"), model_.canUse());
    }

    view::PortChooser model_;
    HWND owner_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    std::map<std::string, HWND> controls_;
    std::map<int, std::string> ids_;
    bool done_ = false;
};

}  // namespace

std::optional<std::string> choosePort(view::ChooserServices services, HWND owner) {
    Chooser chooser(std::move(services), owner);
    chooser.run();
    return chooser.chosen();
}

}  // namespace ui::win32
