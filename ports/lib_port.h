// A port library loaded at run time: a shared object exporting the C functions
// OutportW(short port, short value) and InportW(short port), or the InpOut32
// family's Out32 and Inp32 with the same arguments. It is foreign
// code: whatever it throws becomes a PortError naming it.
#pragma once

#include "bus/lines.h"
#include "bus/port.h"
#include "platform/library.h"
#include "ports/backend.h"

#include <memory>
#include <optional>
#include <string>

namespace ports {

using platform::Loader;

// The file lib:path= names, as the absolute path of the file that is loaded
// and locked: a name without a slash is the file in the current directory, as
// the user sees it, never one found on the system's library path.
inline std::string resolveLibrary(const std::string& path) { return platform::absolutePath(path); }

class LibPort final : public bus::Port {
public:
    using OutFunction = void (*)(short, short);
    using InFunction = short (*)(short);

    // base: where the card's data register is; the programs' 0x378 and 0x379
    // reach base and base + 1 (a PCIe card's addresses).
    explicit LibPort(std::string path, std::unique_ptr<Loader> loader = platform::systemLoader(),
                     std::uint16_t base = bus::kDataRegister);
    ~LibPort() override;

    // path: as resolveLibrary gives it. The library is loaded at the first call
    // of either; each function is bound by name at its own first call and the
    // pointer kept.
    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    // Which interface the library turned out to have, once bound: the
    // programs' own (OutportW/InportW) or the InpOut32 family's (Out32/Inp32).
    std::optional<PortDetails> details() const;

private:
    // The function by the programs' name, or by the InpOut32 family's
    // (Out32, Inp32: the same arguments).
    void* bind(const char* name, const char* alternative);
    template <typename Call>
    auto guarded(const char* function, Call call);

    std::uint16_t moved(std::uint16_t port) const { return static_cast<std::uint16_t>(port - bus::kDataRegister + base_); }

    std::string path_;
    std::unique_ptr<Loader> loader_;
    std::uint16_t base_;
    void* handle_ = nullptr;
    OutFunction out_ = nullptr;
    InFunction in_ = nullptr;
    std::string interface_;  // "OutportW/InportW" once a function is bound
};

}  // namespace ports
