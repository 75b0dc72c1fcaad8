// The program lock on Windows: a named file mapping that holds the holder's
// process id. The system removes it when its last handle closes, so a holder
// that dies frees the port; a second program finds it there and is refused.
#include "platform/lock.h"
#include "platform/windows/text.h"

#include <cerrno>

namespace platform {

std::string lockDirectory() { return "Local\\px77xx"; }

struct ProgramLock::Held {
    explicit Held(HANDLE handle) : mapping(handle) {}
    ~Held() { ::CloseHandle(mapping); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    HANDLE mapping;
};

ProgramLock::ProgramLock() = default;
ProgramLock::~ProgramLock() = default;

LockAttempt ProgramLock::acquire(const std::string& directory, const std::string& name) {
    const std::string full = directory + "-" + name;
    HANDLE mapping =
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD), widen(full).c_str());
    if (mapping == nullptr) return {LockAttempt::Result::Unusable, 0, full, {}, EACCES};
    const bool held = ::GetLastError() == ERROR_ALREADY_EXISTS;
    auto* pid = static_cast<volatile DWORD*>(::MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    if (held) {
        const DWORD holder = pid != nullptr ? *pid : 0;
        if (pid != nullptr) ::UnmapViewOfFile(const_cast<DWORD*>(pid));
        ::CloseHandle(mapping);
        return {LockAttempt::Result::InUse, static_cast<long>(holder), {}, {}, 0};
    }
    if (pid != nullptr) {
        *pid = ::GetCurrentProcessId();
        ::UnmapViewOfFile(const_cast<DWORD*>(pid));
    }
    held_ = std::make_unique<Held>(mapping);
    return {};
}

}  // namespace platform
