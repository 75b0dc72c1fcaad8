// The lib backend, bound through dlopen and dlsym.
#include "ports/lib_port.h"

#include "ports/backend.h"
#include "ports/lock_port.h"

#include <dlfcn.h>

namespace ports {
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

std::unique_ptr<Loader> dlLoader() { return std::make_unique<DlLoader>(); }

LibPort::LibPort(std::string path, std::unique_ptr<Loader> loader)
    : path_(std::move(path)), loader_(std::move(loader)) {}

LibPort::~LibPort() {
    if (handle_ != nullptr) loader_->close(handle_);
}

void* LibPort::bind(const char* name) {
    if (handle_ == nullptr) {
        handle_ = loader_->open(path_);
        if (handle_ == nullptr) throw bus::PortError("lib " + path_ + ": cannot load: " + loader_->lastError());
    }
    void* function = loader_->symbol(handle_, name);
    if (function == nullptr) {
        throw bus::PortError("lib " + path_ + ": " + name + " not found: " + loader_->lastError());
    }
    return function;
}

void LibPort::OutportW(std::uint16_t port, std::uint16_t value) {
    if (out_ == nullptr) out_ = reinterpret_cast<OutFunction>(bind("OutportW"));
    out_(static_cast<short>(port), static_cast<short>(value));
}

std::uint16_t LibPort::InportW(std::uint16_t port) {
    if (in_ == nullptr) in_ = reinterpret_cast<InFunction>(bind("InportW"));
    return static_cast<std::uint16_t>(in_(static_cast<short>(port)));
}

namespace {

constexpr Key kLibKeys[] = {{"path", "a shared library file exporting OutportW and InportW"}, kDelayKey};

Opened makeLib(const Options& options) {
    const std::string path = options.text(kLibKeys[0]);
    if (path.empty()) options.reject("path", "is required", kLibKeys[0].accepts);
    return {std::make_unique<LibPort>(path), "lib " + path, nullptr, lockKeyForFile("lib", path)};
}

}  // namespace

const Backend kLibBackend{"lib", "lib:path=FILE[,delay=US]", "a shared library exporting OutportW and InportW", kLibKeys,
                          makeLib};

}  // namespace ports
