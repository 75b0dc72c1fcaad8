// The ftdi backend's driver on Windows: FTDI's own D2XX, which Windows installs
// with the chip (ftd2xx.dll in the system folder). The library is loaded when
// first needed and its functions bound by name, so that a PC without it runs
// everything else and is told what to install. The declarations follow FTDI's
// D2XX Programmer's Guide; nothing of FTDI's is built in or shipped.
#include "ports/ftdi_port.h"

#include "platform/library.h"
#include "ports/options.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

namespace ports {
namespace {

#if defined(_WIN32) && !defined(_WIN64)
#define PX_D2XX_CALL __stdcall
#else
#define PX_D2XX_CALL
#endif

using Status = std::uint32_t;  // FT_STATUS, a ULONG
using Handle = void*;          // FT_HANDLE

// FT_DEVICE_LIST_INFO_NODE
struct Node {
    std::uint32_t flags;
    std::uint32_t type;
    std::uint32_t id;  // VID << 16 | PID
    std::uint32_t location;
    char serial[16];
    char description[64];
    Handle handle;
};

constexpr Status kOk = 0;
constexpr Status kDeviceNotFound = 2;
constexpr Status kDeviceNotOpened = 3;
constexpr std::uint32_t kFlagOpened = 1;
constexpr std::uint32_t kOpenBySerial = 1;
constexpr std::uint32_t kOpenByLocation = 4;
constexpr std::uint8_t kModeReset = 0x00;
constexpr std::uint8_t kModeMpsse = 0x02;
constexpr std::uint32_t kPurgeBoth = 1 | 2;

const char* statusName(Status status) {
    static const char* const names[] = {
        "FT_OK", "FT_INVALID_HANDLE", "FT_DEVICE_NOT_FOUND", "FT_DEVICE_NOT_OPENED", "FT_IO_ERROR",
        "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER", "FT_INVALID_BAUD_RATE", "FT_DEVICE_NOT_OPENED_FOR_ERASE",
        "FT_DEVICE_NOT_OPENED_FOR_WRITE", "FT_FAILED_TO_WRITE_DEVICE", "FT_EEPROM_READ_FAILED",
        "FT_EEPROM_WRITE_FAILED", "FT_EEPROM_ERASE_FAILED", "FT_EEPROM_NOT_PRESENT", "FT_EEPROM_NOT_PROGRAMMED",
        "FT_INVALID_ARGS", "FT_NOT_SUPPORTED", "FT_OTHER_ERROR", "FT_DEVICE_LIST_NOT_READY"};
    return status < sizeof names / sizeof names[0] ? names[status] : "an unknown D2XX status";
}

std::string chipOfType(std::uint32_t type) {
    switch (type) {
        case 0: return "FT232BM";
        case 1: return "FT232AM";
        case 2: return "FT100AX";
        case 4: return "FT2232C";
        case 5: return "FT232R";
        case 6: return "FT2232H";
        case 7: return "FT4232H";
        case 8: return "FT232H";
        case 9: return "FT-X";
        default: return "FTDI device";
    }
}

std::string text(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

// The functions the backend binds, by their exported names.
struct Functions {
    Status(PX_D2XX_CALL* createDeviceInfoList)(std::uint32_t*);
    Status(PX_D2XX_CALL* getDeviceInfoList)(Node*, std::uint32_t*);
    Status(PX_D2XX_CALL* openEx)(void*, std::uint32_t, Handle*);
    Status(PX_D2XX_CALL* resetDevice)(Handle);
    Status(PX_D2XX_CALL* setUsbParameters)(Handle, std::uint32_t, std::uint32_t);
    Status(PX_D2XX_CALL* setLatencyTimer)(Handle, std::uint8_t);
    Status(PX_D2XX_CALL* setTimeouts)(Handle, std::uint32_t, std::uint32_t);
    Status(PX_D2XX_CALL* setBitMode)(Handle, std::uint8_t, std::uint8_t);
    Status(PX_D2XX_CALL* purge)(Handle, std::uint32_t);
    Status(PX_D2XX_CALL* write)(Handle, void*, std::uint32_t, std::uint32_t*);
    Status(PX_D2XX_CALL* read)(Handle, void*, std::uint32_t, std::uint32_t*);
    Status(PX_D2XX_CALL* close)(Handle);
};

// dev=: s:SERIAL, loc:ID, desc:TEXT or the index detect shows.
struct Selector {
    enum class Kind { Serial, Location, Description, Index } kind = Kind::Index;
    std::string text;
    std::uint32_t number = 0;
};

std::optional<Selector> parseSelector(const std::string& dev) {
    Selector s;
    if (dev.rfind("s:", 0) == 0 && dev.size() > 2) {
        s.kind = Selector::Kind::Serial;
        s.text = dev.substr(2);
        return s;
    }
    if (dev.rfind("desc:", 0) == 0 && dev.size() > 5) {
        s.kind = Selector::Kind::Description;
        s.text = dev.substr(5);
        return s;
    }
    const bool location = dev.rfind("loc:", 0) == 0;
    const auto parsed = parseNumber(location ? dev.substr(4) : dev, 0, location ? 0xFFFFFFFF : 127);
    if (parsed.problem != NumberProblem::None) return std::nullopt;
    s.kind = location ? Selector::Kind::Location : Selector::Kind::Index;
    s.number = static_cast<std::uint32_t>(parsed.value);
    return s;
}

class D2xxSystem final : public FtdiSystem {
public:
    ~D2xxSystem() override {
        close();
        if (library_ != nullptr) loader_->close(library_);
    }

    FtdiOpen open(const std::string& dev, char interface) override {
        FtdiOpen result;
        if (!load()) {
            result.kind = FtdiOpen::Kind::NoDriver;
            result.text = missing_;
            return result;
        }
        const auto selector = parseSelector(dev);
        const auto nodes = list();
        const Node* found = nullptr;
        for (std::size_t i = 0; selector && found == nullptr && i < nodes.size(); ++i) {
            const Node& n = nodes[i];
            const std::string serial = text(n.serial, sizeof n.serial);
            const std::string description = text(n.description, sizeof n.description);
            switch (selector->kind) {
                case Selector::Kind::Serial:
                    // A dual chip lists each interface with its letter after the chip's serial.
                    if (serial == selector->text || serial == selector->text + interface) found = &n;
                    break;
                case Selector::Kind::Location: found = n.location == selector->number ? &n : nullptr; break;
                case Selector::Kind::Description:
                    if (description == selector->text || description == selector->text + " " + interface) found = &n;
                    break;
                case Selector::Kind::Index: found = i == selector->number ? &n : nullptr; break;
            }
        }
        if (found == nullptr) {
            result.kind = FtdiOpen::Kind::NoMatch;
            return result;
        }
        result.device = describe(*found);
        const char letter = result.device.interface != 0 ? result.device.interface : interface;
        if (!ftdiHasMpsse(result.device.chip, letter)) {
            result.kind = FtdiOpen::Kind::BadInterface;
            return result;
        }
        if ((found->flags & kFlagOpened) != 0) {
            result.kind = FtdiOpen::Kind::Busy;
            return result;
        }
        std::string serial = text(found->serial, sizeof found->serial);
        Status status = !serial.empty() ? f_.openEx(serial.data(), kOpenBySerial, &handle_)
                                        : f_.openEx(reinterpret_cast<void*>(static_cast<std::uintptr_t>(found->location)),
                                                    kOpenByLocation, &handle_);
        if (status == kDeviceNotOpened) {
            result.kind = FtdiOpen::Kind::Busy;  // D2XX's word for a device another program has open
            handle_ = nullptr;
            return result;
        }
        if (status == kDeviceNotFound) {
            result.kind = FtdiOpen::Kind::NoMatch;  // unplugged since the listing
            handle_ = nullptr;
            return result;
        }
        const char* step = status != kOk                                             ? "FT_OpenEx"
                           : (status = f_.resetDevice(handle_)) != kOk               ? "FT_ResetDevice"
                           : (status = f_.setUsbParameters(handle_, 65536, 65536)) != kOk ? "FT_SetUSBParameters"
                           : (status = f_.setLatencyTimer(handle_, 1)) != kOk        ? "FT_SetLatencyTimer"
                           : (status = f_.setTimeouts(handle_, 1000, 1000)) != kOk   ? "FT_SetTimeouts"
                           : (status = f_.setBitMode(handle_, 0, kModeReset)) != kOk ? "FT_SetBitMode (reset)"
                           : (status = f_.setBitMode(handle_, 0, kModeMpsse)) != kOk ? "FT_SetBitMode (MPSSE)"
                           : (status = f_.purge(handle_, kPurgeBoth)) != kOk         ? "FT_Purge"
                                                                                      : nullptr;
        if (step != nullptr) {
            result.text = std::string(step) + ": " + statusName(status);
            if (handle_ != nullptr && std::strcmp(step, "FT_OpenEx") != 0) f_.close(handle_);
            handle_ = nullptr;
            return result;
        }
        result.kind = FtdiOpen::Kind::Opened;
        return result;
    }

    std::vector<FtdiDevice> devices() override {
        std::vector<FtdiDevice> out;
        if (!load()) return out;
        const auto nodes = list();
        for (const Node& n : nodes) out.push_back(describe(n));
        return out;
    }

    int write(const std::uint8_t* data, int size) override {
        std::uint32_t written = 0;
        const Status status =
            f_.write(handle_, const_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(size), &written);
        if (status != kOk) {
            error_ = statusName(status);
            return -1;
        }
        return static_cast<int>(written);
    }

    // FT_Read waits up to the read timeout (1 s, set at open) for the bytes:
    // what came by then is returned, and the caller's deadline decides.
    int read(std::uint8_t* data, int size) override {
        std::uint32_t got = 0;
        const Status status = f_.read(handle_, data, static_cast<std::uint32_t>(size), &got);
        if (status != kOk) {
            error_ = statusName(status);
            return -1;
        }
        return static_cast<int>(got);
    }

    std::string error() override { return error_.empty() ? "no device" : error_; }

    void close() override {
        if (handle_ == nullptr) return;
        f_.close(handle_);  // the pins stay as they were last set
        handle_ = nullptr;
    }

    bool validSelector(const std::string& dev) const override { return parseSelector(dev).has_value(); }
    std::string driver() const override { return "FTDI's D2XX driver"; }
    std::string listingHint() const override { return "`pxctl detect` lists the FTDI chips FTDI's driver sees"; }
    std::string unavailable() override { return load() ? std::string() : missing_; }

private:
    bool load() {
        if (library_ != nullptr) return true;
        if (!missing_.empty()) return false;
        loader_ = platform::systemLoader();
        library_ = loader_->openSystem("ftd2xx.dll");
        if (library_ == nullptr) {
            missing_ = "FTDI's D2XX driver is not installed (ftd2xx.dll: " + loader_->lastError() +
                       "): Windows installs it by itself when an FTDI chip is first plugged in, from Windows Update; "
                       "or install FTDI's D2XX driver (CDM) from ftdichip.com";
            return false;
        }
        const struct {
            const char* name;
            void** slot;
        } bindings[] = {
            {"FT_CreateDeviceInfoList", reinterpret_cast<void**>(&f_.createDeviceInfoList)},
            {"FT_GetDeviceInfoList", reinterpret_cast<void**>(&f_.getDeviceInfoList)},
            {"FT_OpenEx", reinterpret_cast<void**>(&f_.openEx)},
            {"FT_ResetDevice", reinterpret_cast<void**>(&f_.resetDevice)},
            {"FT_SetUSBParameters", reinterpret_cast<void**>(&f_.setUsbParameters)},
            {"FT_SetLatencyTimer", reinterpret_cast<void**>(&f_.setLatencyTimer)},
            {"FT_SetTimeouts", reinterpret_cast<void**>(&f_.setTimeouts)},
            {"FT_SetBitMode", reinterpret_cast<void**>(&f_.setBitMode)},
            {"FT_Purge", reinterpret_cast<void**>(&f_.purge)},
            {"FT_Write", reinterpret_cast<void**>(&f_.write)},
            {"FT_Read", reinterpret_cast<void**>(&f_.read)},
            {"FT_Close", reinterpret_cast<void**>(&f_.close)},
        };
        for (const auto& binding : bindings) {
            *binding.slot = loader_->symbol(library_, binding.name);
            if (*binding.slot == nullptr) {
                missing_ = std::string("ftd2xx.dll does not export ") + binding.name +
                           ": it is not FTDI's D2XX library, or one too old (install FTDI's D2XX driver from "
                           "ftdichip.com)";
                loader_->close(library_);
                library_ = nullptr;
                return false;
            }
        }
        return true;
    }

    std::vector<Node> list() {
        std::uint32_t count = 0;
        if (f_.createDeviceInfoList(&count) != kOk || count == 0) return {};
        std::vector<Node> nodes(count);
        if (f_.getDeviceInfoList(nodes.data(), &count) != kOk) return {};
        nodes.resize(count < nodes.size() ? count : nodes.size());
        return nodes;
    }

    static FtdiDevice describe(const Node& n) {
        FtdiDevice d;
        char location[24];
        std::snprintf(location, sizeof location, "loc 0x%x", n.location);
        d.node = location;
        d.vendor = static_cast<std::uint16_t>(n.id >> 16);
        d.product = static_cast<std::uint16_t>(n.id & 0xFFFF);
        d.chip = chipOfType(n.type);
        d.serial = text(n.serial, sizeof n.serial);
        d.description = text(n.description, sizeof n.description);
        // A dual or quad chip's interfaces are devices of their own, lettered last.
        if (d.chip == "FT2232H" || d.chip == "FT4232H" || d.chip == "FT2232C") {
            const std::string& named = !d.serial.empty() ? d.serial : d.description;
            if (!named.empty() && named.back() >= 'A' && named.back() <= 'D') d.interface = named.back();
        }
        // Another program's device shows no serial or description.
        if ((n.flags & kFlagOpened) == 0) {
            d.selector = !d.serial.empty() ? "s:" + d.serial : "loc:" + std::to_string(n.location);
        }
        return d;
    }

    std::unique_ptr<platform::Loader> loader_;
    void* library_ = nullptr;
    std::string missing_;
    Functions f_{};
    Handle handle_ = nullptr;
    std::string error_;
};

}  // namespace

std::unique_ptr<FtdiSystem> ftdiSystem() { return std::make_unique<D2xxSystem>(); }

const char kFtdiSelectorForms[] = "s:SERIAL, loc:ID, desc:TEXT or an index, as `pxctl detect` lists them";
const char kFtdiDescription[] =
    "the pins of an FTDI FT232H, FT2232H or FT4232H through FTDI's D2XX driver (MPSSE), a write frame per USB write: "
    "the exact frames; D is s:SERIAL, loc:ID, desc:TEXT or an index, and may be left out with one FTDI chip attached";

}  // namespace ports
