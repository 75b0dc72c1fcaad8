// Small files on Windows: CreateFileW without following a reparse point, the
// file's type looked at before reading, CREATE_NEW for the new file under a
// random name, MoveFileExW to put it in place (std::rename does not replace an
// existing file here), LockFileEx for the lock.
#include "platform/files.h"
#include "platform/windows/text.h"

#include <cstdio>
#include <random>
#include <utility>

namespace platform {
namespace {

[[noreturn]] void fail(DWORD error) { throw FileError(systemMessage(error)); }

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens path as a file on a disk, refusing a link, directory, pipe or device.
// INVALID_HANDLE_VALUE where nothing is there.
HANDLE openRegular(const std::string& path, DWORD access, DWORD disposition) {
    const std::wstring wide = widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) throw FileError("a symbolic link");
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw FileError("a directory");
    }
    HANDLE handle = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return INVALID_HANDLE_VALUE;  // nor its folder
        fail(error);
    }
    Handle held(handle);
    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_PIPE) throw FileError("a pipe");
    if (type != FILE_TYPE_DISK) throw FileError("a device");
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw FileError("a directory");
    }
    return held.release();
}

// A new file beside path, made by this call alone under a random name.
HANDLE makeTemporary(const std::string& path, std::wstring& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x%08x", random(), random());
        name = widen(path + suffix);
        HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return handle;
        if (const DWORD error = ::GetLastError(); error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            fail(error);
        }
    }
    fail(ERROR_FILE_EXISTS);
}

}  // namespace

std::FILE* openFile(const std::string& path, const char* mode) {
    return ::_wfopen(widen(path).c_str(), widen(mode).c_str());
}

std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit) {
    HANDLE handle = openRegular(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    Handle held(handle);
    std::string text(limit + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        DWORD n = 0;
        if (!::ReadFile(handle, text.data() + got, static_cast<DWORD>(text.size() - got), &n, nullptr)) {
            fail(::GetLastError());
        }
        if (n == 0) break;
        got += n;
    }
    if (got > limit) throw FileError("larger than " + std::to_string(limit) + " bytes");
    text.resize(got);
    return text;
}

void replaceFile(const std::string& path, std::string_view text) {
    std::wstring name;
    Handle file(makeTemporary(path, name));
    try {
        DWORD written = 0;
        if (!::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size()) {
            fail(::GetLastError());
        }
        if (!::FlushFileBuffers(file.get())) fail(::GetLastError());
        ::CloseHandle(file.release());
        // Another program reading the file at that moment (a virus scanner,
        // the indexer, wine's server closing a reader that has just ended)
        // makes the replacement fail for a moment: a few more tries, 1 s in all.
        for (int attempt = 0;; ++attempt) {
            if (::MoveFileExW(name.c_str(), widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
            const DWORD error = ::GetLastError();
            const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
            if (!held || attempt == 19) fail(error);
            ::Sleep(50);
        }
    } catch (...) {
        if (file.get() != INVALID_HANDLE_VALUE) ::CloseHandle(file.release());
        ::DeleteFileW(name.c_str());
        throw;
    }
}

void checkReplaceable(const std::string& path) {
    std::wstring name;
    ::CloseHandle(makeTemporary(path, name));
    ::DeleteFileW(name.c_str());
}

struct FileLock::Held {
    explicit Held(HANDLE handle) : file(handle) {}
    Handle file;
};

FileLock::FileLock(const std::string& path) {
    const std::string name = path + ".lock";
    try {
        Handle file(openRegular(name, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
        if (file.get() == INVALID_HANDLE_VALUE) fail(ERROR_PATH_NOT_FOUND);
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(file.get(), &info) && info.nNumberOfLinks != 1) {
            throw FileError("a file with " + std::to_string(info.nNumberOfLinks) + " links");
        }
        OVERLAPPED whole{};
        if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) fail(::GetLastError());
        held_ = std::make_unique<Held>(file.release());
    } catch (const FileError& e) {
        throw FileError("lock " + name + ": " + e.what());
    }
}

FileLock::~FileLock() = default;  // closing the handle releases the lock

std::optional<std::string> environment(const char* name) {
    const std::wstring wide = widen(name);
    const DWORD length = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (length == 0) return std::nullopt;
    std::wstring value(length, L'\0');
    const DWORD written = ::GetEnvironmentVariableW(wide.c_str(), value.data(), length);
    value.resize(written);
    return narrow(value);
}

std::string userSettingsFile() {
    const auto appData = environment("APPDATA");
    return appData && !appData->empty() ? *appData + "\\px77xx\\settings" : std::string();
}

}  // namespace platform
