// Start-up on Windows: parse the command line, make the port (nothing is touched
// until the operator's first action), build the Win32 window and run its
// message loop. The programs are GUI programs: what they have to say before the
// window opens goes to the console that started them, or to a message box.
#include "ui/run.h"

#include "platform/signals.h"

#include "frontend/window_start.h"
#include "ui/chooser_services.h"
#include "ui/win32/chooser.h"
#include "commands/descriptor.h"
#include "ports/trace_port.h"
#include "platform/windows/text.h"
#include "ui/win32/window.h"

#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ui {
namespace {

// Standard output or error as the program was given it; a program started from
// a console window has none of its own and writes to that console; one started
// from the Start menu has no console at all, and shows a message box instead.
void sayTo(const std::string& name, const std::string& text, bool error) {
    HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    bool ours = false;
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
        ours = true;
    }
    DWORD wrote = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE &&
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr)) {
        if (ours) ::CloseHandle(out);
        return;
    }
    ::MessageBoxW(nullptr, platform::widen(text).c_str(), platform::widen(name).c_str(),
                  static_cast<UINT>(MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION)));
}

// --choose-port: the chooser first; false where it was closed without a choice.
bool choosePortFirst(const commands::Descriptor& descriptor, const std::vector<std::string>& arguments) {
    const auto line = frontend::chooserRequest(arguments);
    return !line || win32::choosePort(chooserServices(descriptor, line->address), nullptr).has_value();
}

}  // namespace

int run(const commands::Descriptor& descriptor, int argc, char** argv) {
    const std::string name(descriptor.executable);
    const frontend::Say say = [&name](const std::string& text, bool error) { sayTo(name, text, error); };
    const std::vector<std::string> arguments = platform::commandLineArguments(argc, argv);
    if (!choosePortFirst(descriptor, arguments)) return 0;
    auto started = frontend::startWindowProgram(descriptor, arguments, say, false);
    if (const int* status = std::get_if<int>(&started)) return *status;
    frontend::WindowStart& start = std::get<frontend::WindowStart>(started);

    // Ctrl-C and the console closing end the window as E&xit does, once the
    // frame under way is whole.
    const platform::SignalWatch interrupts;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // for the accessibility annotations
    int status = 0;
    {
        ports::TracePort* trace = start.session.port.trace;
        commands::Program& program = *start.session.program;
        win32::Window window(descriptor, program);
        frontend::showSessionIn(window, start);
        // Exit may come while the session ends (WM_ENDSESSION), when the process
        // can end as soon as the event returns: the trace is closed at once.
        window.setExitAction([&window, trace] {
            if (trace != nullptr) trace->close();
            ::ShowWindow(window.handle(), SW_HIDE);
            ::PostQuitMessage(0);
        });
        window.setStopCheck([&interrupts] { return interrupts.pending() != 0; });
        window.setChooser([&window, &descriptor, address = start.line.address] {
            win32::choosePort(chooserServices(descriptor, address), window.handle());
        });
        window.showCentred();
        if (start.line.exitWhenShown) ::PostQuitMessage(0);

        HANDLE wake = static_cast<HANDLE>(interrupts.event());
        bool woken = false;
        for (bool running = true; running;) {
            const DWORD waited = ::MsgWaitForMultipleObjectsEx(woken ? 0 : 1, &wake, INFINITE, QS_ALLINPUT,
                                                               MWMO_INPUTAVAILABLE);
            if (!woken && waited == WAIT_OBJECT_0) {
                woken = true;
                program.cmdExit_Click();
            }
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    status = static_cast<int>(message.wParam);
                    running = false;
                    break;
                }
                if (window.preTranslate(message)) continue;
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        if (trace != nullptr) trace->close();
    }
    status = frontend::endWindowProgram(descriptor, start, say, status, interrupts.pending());
    ::CoUninitialize();
    return status;
}

}  // namespace ui
