// The lib backend: a port library bound by name (loader_posix.cpp, loader_windows.cpp).
#include "ports/lib_port.h"

#include "ports/backend.h"
#include "ports/factory.h"
#include "ports/lock_port.h"

#include <cctype>
#include <cerrno>
#include <exception>
#include <filesystem>

namespace ports {
namespace {

[[maybe_unused]] std::string lowercase(std::string text) {
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

}  // namespace

LibPort::LibPort(std::string path, std::unique_ptr<Loader> loader, std::uint16_t base)
    : path_(std::move(path)), loader_(std::move(loader)), base_(base) {}

LibPort::~LibPort() {
    if (handle_ != nullptr) loader_->close(handle_);
}

namespace {

// A path as the port string gives it, UTF-8 on every system (wide on Windows).
std::filesystem::path utf8Path(const std::string& path) { return std::u8string(path.begin(), path.end()); }

}  // namespace

namespace {

// What a Windows user can do about each way a port library fails, in the
// words of the Start menu and the settings file; Linux's users get the
// system's own reasons, which say it there.
enum class LibFailure { Missing, Unloadable, NoInterface, Threw };

std::string advice(LibFailure failure, const std::string& path) {
#ifdef _WIN32
    const std::string choose = "; pxctl config port PORT sets the port every Start-menu entry opens, and the entries "
                               "\"on the simulated board\" need no hardware";
    switch (failure) {
        case LibFailure::Missing: {
            const auto slash = path.find_last_of("\\/");
            const std::string folder = slash == std::string::npos ? "the current folder" : path.substr(0, slash);
            return " (put inpoutx64.dll, which is free and comes with its own signed driver, or ntport.dll in " +
                   folder + ", or give the whole path: lib:path=C:\\Tools\\inpoutx64.dll" + choose + ")";
        }
        case LibFailure::Unloadable:
            return " (the file is there but Windows cannot load it: a 64-bit program needs a 64-bit port library, "
                   "inpoutx64.dll rather than inpout32.dll" + choose + ")";
        case LibFailure::NoInterface:
            return " (not a port library: inpoutx64.dll and ntport.dll are" + choose + ")";
        case LibFailure::Threw:
            return " (the port library failed: its driver may not be installed; InpOut32 installs its own the first "
                   "time a program uses it as administrator)";
    }
    return "";
#else
    // The library the programs were written for; not everyone has it.
    if (failure == LibFailure::Missing && path.size() >= 10 && lowercase(path.substr(path.size() - 10)) == "ntport.dll") {
        return " (ntport.dll is not installed: lib:path=inpoutx64.dll is a free alternative, and --port sim works "
               "without hardware)";
    }
    return "";
#endif
}

}  // namespace

void* LibPort::bind(const char* name, const char* alternative) {
    if (handle_ == nullptr) {
        handle_ = loader_->open(path_);
        if (handle_ == nullptr) {
            // A library that is there but does not load is no missing file.
            std::error_code error;
            const bool there = std::filesystem::exists(utf8Path(path_), error);
            throw bus::PortError("lib " + path_ + ": cannot load: " + loader_->lastError() +
                                 advice(there ? LibFailure::Unloadable : LibFailure::Missing, path_))
                .because(there ? 0 : ENOENT);
        }
    }
    // The programs' own interface first, then the InpOut32 family's.
    if (void* function = loader_->symbol(handle_, name)) {
        interface_ = "OutportW/InportW";
        return function;
    }
    if (void* function = loader_->symbol(handle_, alternative)) {
        interface_ = "Out32/Inp32";
        return function;
    }
    throw bus::PortError("lib " + path_ + ": exports neither " + name + " nor " + alternative + ": " +
                         loader_->lastError() + advice(LibFailure::NoInterface, path_));
}

// A call into the library: an exception of any type stops at this edge as a
// port failure, so that the report says what reached the port.
template <typename Call>
auto LibPort::guarded(const char* function, Call call) {
    try {
        return call();
    } catch (const std::exception& e) {
        throw bus::PortError("lib " + path_ + ": the port library threw in " + function + ": " + e.what() +
                             advice(LibFailure::Threw, path_));
    } catch (...) {
        throw bus::PortError("lib " + path_ + ": the port library threw in " + function +
                             " something that is not a std::exception" + advice(LibFailure::Threw, path_));
    }
}

void LibPort::OutportW(std::uint16_t port, std::uint16_t value) {
    if (out_ == nullptr) out_ = reinterpret_cast<OutFunction>(bind("OutportW", "Out32"));
    guarded("OutportW", [&] { out_(static_cast<short>(moved(port)), static_cast<short>(value)); });
}

std::uint16_t LibPort::InportW(std::uint16_t port) {
    if (in_ == nullptr) in_ = reinterpret_cast<InFunction>(bind("InportW", "Inp32"));
    return static_cast<std::uint16_t>(guarded("InportW", [&] { return in_(static_cast<short>(moved(port))); }));
}

std::string lockKeyForFile(const std::string& prefix, const std::string& path) {
    std::uint32_t hash = 2166136261U;  // FNV-1a
    for (const char ch : path) hash = (hash ^ static_cast<unsigned char>(ch)) * 16777619U;
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    for (char& ch : name) {
        const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '.' ||
                           ch == '-' || ch == '_';
        if (!plain) ch = '_';
    }
    if (name.size() > 64) name.resize(64);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", hash);
    return prefix + "-" + name + "-" + hex;
}


std::optional<PortDetails> LibPort::details() const {
    if (interface_.empty()) return std::nullopt;
    return PortDetails{"port library", interface_};
}

namespace {

constexpr Key kLibKeys[] = {
    {"path", "a port library exporting OutportW and InportW or Out32 and Inp32 (a name alone is the file in the "
             "current folder)"},
    {"base", "0x100..0xfffc, a multiple of 4: the card's data register (status at base + 1)", "0x378", 0x100, 0xFFFC},
    kDelayKey};

Opened makeLib(const Options& options) {
    const std::string path = options.text(kLibKeys[0]);
    if (path.empty()) options.reject("path", "is required", kLibKeys[0].accepts);
    // Loaded, locked and named as one file.
    const auto base = *options.number(kLibKeys[1]);
    if (base % 4 != 0) options.reject("base", "is not a multiple of 4", kLibKeys[1].accepts);
    const std::string file = resolveLibrary(path);
    auto port = std::make_unique<LibPort>(file, platform::systemLoader(), static_cast<std::uint16_t>(base));
    const LibPort* library = port.get();
    // Another card's registers are another port: its own label and lock.
    std::string label = "lib " + file;
    std::string lockKey = lockKeyForFile("lib", file);
    if (base != bus::kDataRegister) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(base));
        label.append(" at ").append(text);
        lockKey.append("-").append(text);
    }
    return {std::move(port), label, nullptr, lockKey, [library] { return library->details(); }};
}

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(utf8Path(path), error);
}

// Which pair of names a library exports, looked up without running any of its
// code; "" where it has neither, and why in `why` where it does not load.
std::string interfaceOf(const std::string& path, std::string& why) {
    const auto loader = platform::systemLoader();
    void* handle = loader->openInert(path);
    if (handle == nullptr) {
        why = "it does not load: " + loader->lastError();
        return "";
    }
    const auto has = [&](const char* name) { return loader->symbol(handle, name) != nullptr; };
    const std::string found = has("OutportW") && has("InportW") ? "OutportW/InportW"
                              : has("Out32") && has("Inp32")    ? "Out32/Inp32"
                                                                : "";
    loader->close(handle);
    if (found.empty()) why = "it exports neither OutportW and InportW nor Out32 and Inp32";
    return found;
}

// Where the programs' own port is a library (Windows): the port libraries that
// are there, in the current folder (where lib:path=NAME looks) and in the
// program's, each with the pair of names it exports. None is claimed that is
// not there. Elsewhere nothing: no library is searched for.
std::vector<DetectedPort> detectLib() {
    const std::string fallback = defaultPort();
    if (fallback.rfind("lib:path=", 0) != 0) return {};
    const std::string here = platform::absolutePath(".");
    const std::string program = platform::programFolder();
    std::vector<DetectedPort> found;
    for (const char* name : {"ntport.dll", "inpoutx64.dll"}) {
        for (const bool current : {true, false}) {
            if (!current && (program.empty() || program == here)) continue;
            const std::string path = current ? resolveLibrary(name) : program + "\\" + name;
            if (!fileExists(path)) continue;
            DetectedPort port{"lib", "lib:path=" + (current ? std::string(name) : path),
                              std::string("the port library ") + name + " in the " +
                                  (current ? "current folder" : "program's folder")};
            const std::string interface = interfaceOf(path, port.why);
            port.usable = !interface.empty();
            if (port.usable) port.description += " (" + interface + ")";
            found.push_back(std::move(port));
        }
    }
    if (found.empty()) {
        found.push_back({"lib", fallback, "the programs' port library", false,
                         "ntport.dll is in neither the current folder nor the program's; inpoutx64.dll, which is free "
                         "and comes with its own signed driver, serves as well: put either beside the program"});
    }
    return found;
}

}  // namespace

#ifdef _WIN32
constexpr char kLibDescription[] =
    "a port library (DLL) exporting OutportW and InportW (ntport.dll) or Out32 and Inp32 (inpoutx64.dll); a FILE "
    "without a backslash is the one in the current folder (C:\\Tools\\inpoutx64.dll names any other), never one on "
    "the system's search path";
#else
constexpr char kLibDescription[] =
    "a shared library exporting OutportW and InportW, or Out32 and Inp32; a FILE without a slash is the one in the "
    "current directory, never one on the library path";
#endif

const Backend kLibBackend{"lib", "lib:path=FILE[,base=0x378][,delay=US]", kLibDescription, kLibKeys, makeLib, false,
                          detectLib};

}  // namespace ports
