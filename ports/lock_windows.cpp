// The lock on Windows: a named file mapping that holds the holder's process id.
// The system removes it when its last handle closes, so a holder that dies
// frees the port; a second program finds it there and is refused.
#include "ports/lock_port.h"
#include "platform/windows/text.h"

#include <cerrno>

namespace ports {

using platform::narrow;
using platform::systemMessage;
using platform::widen;

std::string lockDirectory() { return "Local\\px77xx"; }

LockPort::~LockPort() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void LockPort::acquire() {
    const std::string name = directory_ + "-" + name_;
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD),
                                          widen(name).c_str());
    if (mapping == nullptr) return giveUp(name, EACCES);
    const bool held = ::GetLastError() == ERROR_ALREADY_EXISTS;
    auto* pid = static_cast<volatile DWORD*>(::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    if (held) {
        const DWORD holder = pid != nullptr ? *pid : 0;
        if (pid != nullptr) ::UnmapViewOfFile(const_cast<DWORD*>(pid));
        ::CloseHandle(mapping);
        throw bus::PortError(label_ + " is in use by another program" +
                             (holder != 0 ? " (pid " + std::to_string(holder) + ")" : std::string()));
    }
    if (pid != nullptr) {
        *pid = ::GetCurrentProcessId();
        ::UnmapViewOfFile(const_cast<DWORD*>(pid));
    }
    handle_ = reinterpret_cast<std::intptr_t>(mapping);
    settled_ = true;
}

}  // namespace ports
