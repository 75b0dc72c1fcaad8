// Shared libraries on Windows: LoadLibraryExW and GetProcAddress, with wide paths.
#include "platform/library.h"
#include "platform/windows/text.h"

namespace platform {
namespace {

class WindowsLoader final : public Loader {
public:
    void* open(const std::string& path) override {
        // The DLL's own folder first for what it needs in turn, never the
        // current directory's stand-in for a system DLL.
        HMODULE module = ::LoadLibraryExW(widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module == nullptr) error_ = ::GetLastError();
        return reinterpret_cast<void*>(module);
    }
    void* openSystem(const std::string& name) override {
        HMODULE module = ::LoadLibraryExW(widen(name).c_str(), nullptr,
                                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) error_ = ::GetLastError();
        return reinterpret_cast<void*>(module);
    }
    void* openInert(const std::string& path) override {
        HMODULE module = ::LoadLibraryExW(widen(path).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (module == nullptr) error_ = ::GetLastError();
        return reinterpret_cast<void*>(module);
    }
    void* symbol(void* handle, const char* name) override {
        FARPROC function = ::GetProcAddress(static_cast<HMODULE>(handle), name);
        if (function == nullptr) error_ = ::GetLastError();
        return reinterpret_cast<void*>(function);
    }
    void close(void* handle) override { ::FreeLibrary(static_cast<HMODULE>(handle)); }
    std::string lastError() override { return systemMessage(error_); }

private:
    unsigned long error_ = 0;
};

}  // namespace

std::unique_ptr<Loader> systemLoader() { return std::make_unique<WindowsLoader>(); }

std::string programFolder() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return "";
    path.resize(length);
    return narrow(path.substr(0, path.find_last_of(L"\\/")));
}

std::string absolutePath(const std::string& path) {
    // Relative to the current directory, as the user sees it; drive letters and
    // backslashes as Windows writes them.
    const std::wstring wide = widen(path);
    const DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::wstring full(length, L'\0');
    const DWORD written = ::GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    full.resize(written);
    return narrow(full);
}

}  // namespace platform
