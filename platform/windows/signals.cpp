// Console control events, console input and checked output on Windows. Ctrl-C,
// Ctrl-Break and the console closing are noted by the handler, which runs on a
// thread of its own: it wakes the main thread out of a read or write that waits
// (CancelSynchronousIo), and for a closing console holds the process until the
// frame under way is whole, since the system ends it once the handler returns.
#include "platform/signals.h"
#include "platform/windows/text.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdexcept>
#include <windows.h>

namespace platform {
namespace {

// A handler can reach nothing but statics; these live from the watch's
// construction to its end.
std::atomic<int> gPending{0};
HANDLE gMainThread = nullptr;
HANDLE gDone = nullptr;  // set once the program is past its last frame
HANDLE gNoted = nullptr;  // set by the handler: wakes a window's message loop
bool gWatching = false;

// The Linux signal each event stands for, so that statuses and messages match.
int signalFor(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT: return SIGINT;
        case CTRL_BREAK_EVENT: return SIGTERM;
        default: return 1;  // SIGHUP: the console closing, a logoff or shutdown
    }
}

BOOL WINAPI noteEvent(DWORD event) {
    int expected = 0;
    gPending.compare_exchange_strong(expected, signalFor(event));
    ::SetEvent(gNoted);
    if (gMainThread != nullptr) ::CancelSynchronousIo(gMainThread);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process when this returns (or after some five
        // seconds): wait for the frame under way.
        ::WaitForSingleObject(gDone, 4500);
    }
    return TRUE;
}

}  // namespace

SignalWatch::SignalWatch() {
    if (gWatching) throw std::logic_error("one SignalWatch at a time");
    gWatching = true;
    gPending = 0;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &gMainThread, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    gDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gNoted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(noteEvent, TRUE);
}

SignalWatch::~SignalWatch() {
    ::SetEvent(gDone);
    ::SetConsoleCtrlHandler(noteEvent, FALSE);
    if (gMainThread != nullptr) ::CloseHandle(gMainThread);
    gMainThread = nullptr;
    gWatching = false;
}

int SignalWatch::pending() const { return gPending; }

int SignalWatch::fd() const { return -1; }

void* SignalWatch::event() const { return gNoted; }

std::string SignalWatch::name(int signal) {
    switch (signal) {
        case SIGINT: return "Ctrl-C";
        case SIGTERM: return "Ctrl-Break";
        case 1: return "the console closing";
        default: return "event " + std::to_string(signal);
    }
}




bool LineReader::fill() {
    char chunk[4096];
    DWORD got = 0;
    // A console event cancels this read (CancelSynchronousIo).
    if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), chunk, sizeof chunk, &got, nullptr) || got == 0) {
        if (signals_.pending() != 0) return false;
        ended_ = true;
        return true;
    }
    buffer_.append(chunk, got);
    return true;
}

int CheckedOutput::sync() {
    HANDLE out = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
    std::size_t done = 0;
    // Past a console event nothing here may wait, and a pipe cannot say how
    // much it would take: what is left for a pipe is dropped.
    if (signals_.pending() != 0 && ::GetFileType(out) == FILE_TYPE_PIPE) error_ = EINTR;
    while (error_ == 0 && done < pending_.size()) {
        DWORD wrote = 0;
        // A console event cancels a write that waits on a full pipe.
        if (::WriteFile(out, pending_.data() + done, static_cast<DWORD>(pending_.size() - done), &wrote, nullptr)) {
            done += wrote;
            continue;
        }
        const DWORD error = ::GetLastError();
        if (signals_.pending() != 0) {
            error_ = EINTR;
        } else if (error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED) {
            error_ = EPIPE;
        } else if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
            error_ = ENOSPC;
        } else if (error == ERROR_INVALID_HANDLE) {
            error_ = EBADF;
        } else {
            error_ = EIO;
        }
    }
    pending_.erase(0, done);
    if (error_ == 0) return 0;
    errno = error_;
    return -1;
}

bool standardInputIsTerminal() { return ::_isatty(0) != 0; }

void prepareStandardStreams() {
    ::_setmode(1, _O_BINARY);
    ::_setmode(2, _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> commandLineArguments(int, char**) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

}  // namespace platform
