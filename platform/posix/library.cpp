// Shared libraries on POSIX systems: dlopen and dlsym, and realpath.
#include "platform/library.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace platform {
namespace {

class DlLoader final : public Loader {
public:
    void* open(const std::string& path) override { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
    void* symbol(void* handle, const char* name) override {
        ::dlerror();
        return ::dlsym(handle, name);
    }
    void close(void* handle) override { ::dlclose(handle); }
    std::string lastError() override {
        const char* error = ::dlerror();
        return error != nullptr ? error : "unknown loader error";
    }
};

}  // namespace

std::unique_ptr<Loader> systemLoader() { return std::make_unique<DlLoader>(); }

std::string absolutePath(const std::string& path) {
    std::string absolute = path;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        absolute = (::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) : std::string(".")) + "/" + path;
    }
    char resolved[PATH_MAX];
    return ::realpath(absolute.c_str(), resolved) != nullptr ? std::string(resolved) : absolute;
}

std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    const std::string program(path, static_cast<std::size_t>(n));
    return program.substr(0, program.rfind('/'));
}

}  // namespace platform
