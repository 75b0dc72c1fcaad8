// The ftdi backend's driver on Linux, libftdi1. Devices are found in sysfs (as
// lsusb does, without opening any), opened by bus and address, put in MPSSE
// mode with the latency timer at 1 ms. Closing leaves the pins as they are, so
// that a shutdown outlasts the program.
#include "ports/ftdi_port.h"

#include "platform/linux/devices.h"
#include "ports/backend.h"
#include "ports/device_system.h"

#include <ftdi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace ports {
namespace {

struct Selector {
    char kind = 0;  // 'i', 's', 'd'
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    unsigned index = 0;
    std::string serial;
    unsigned bus = 0;
    unsigned address = 0;
};

std::optional<std::uint16_t> hexId(std::string_view text) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.remove_prefix(2);
    const auto parsed = parseNumber("0x" + std::string(text), 0, 0xFFFF);
    if (text.empty() || parsed.problem != NumberProblem::None) return std::nullopt;
    return static_cast<std::uint16_t>(parsed.value);
}

// libftdi's forms, with the ids in hexadecimal as lsusb prints them (libftdi
// itself would read "0403" as octal).
std::optional<Selector> parseSelector(std::string_view text) {
    Selector s;
    if (text.size() < 3 || text[1] != ':') return std::nullopt;
    s.kind = text[0];
    std::vector<std::string_view> parts;
    for (std::string_view rest = text.substr(2);;) {
        const auto colon = rest.find(':');
        parts.push_back(rest.substr(0, colon));
        if (colon == std::string_view::npos || (s.kind == 's' && parts.size() == 2)) {
            if (colon != std::string_view::npos) parts.push_back(rest.substr(colon + 1));
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    if (s.kind == 'd') {
        const auto slash = text.find('/');
        if (parts.size() != 1 || slash == std::string_view::npos) return std::nullopt;
        const auto bus = parseNumber(text.substr(2, slash - 2), 1, 255);
        const auto address = parseNumber(text.substr(slash + 1), 1, 127);
        if (bus.problem != NumberProblem::None || address.problem != NumberProblem::None) return std::nullopt;
        s.bus = static_cast<unsigned>(bus.value);
        s.address = static_cast<unsigned>(address.value);
        return s;
    }
    if ((s.kind != 'i' && s.kind != 's') || parts.size() < 2) return std::nullopt;
    const auto vendor = hexId(parts[0]);
    const auto product = hexId(parts[1]);
    if (!vendor || !product) return std::nullopt;
    s.vendor = *vendor;
    s.product = *product;
    if (s.kind == 'i' && parts.size() == 3) {
        const auto index = parseNumber(parts[2], 0, 127);
        if (index.problem != NumberProblem::None) return std::nullopt;
        s.index = static_cast<unsigned>(index.value);
    } else if (s.kind == 's' && parts.size() == 3 && !parts[2].empty()) {
        s.serial = parts[2];
    } else if (parts.size() != 2 || s.kind == 's') {
        return std::nullopt;
    }
    return s;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}


// The chip bcdDevice names.
std::string ftdiChip(std::uint16_t bcdDevice) {
    switch (bcdDevice >> 8) {
        case 0x04: return "FT232BM";
        case 0x05: return "FT2232C";
        case 0x06: return "FT232R";
        case 0x07: return "FT2232H";
        case 0x08: return "FT4232H";
        case 0x09: return "FT232H";
        case 0x10: return "FT230X";
        default: return "FTDI 0x" + hex4(bcdDevice);
    }
}

// The chip a product id stands for, for a message about one that is not there.
std::string chipOfProduct(std::uint16_t product) {
    switch (product) {
        case 0x6014: return "FT232H";
        case 0x6010: return "FT2232H";
        case 0x6011: return "FT4232H";
        default: return "FTDI device";
    }
}

struct Found {
    FtdiDevice device;
    unsigned bus = 0;
    unsigned address = 0;
    std::string sysfsName;  // "1-1"
};

// Every USB device of FTDI's vendor id, from sysfs, in bus and address order.
std::vector<Found> sysfsDevices() {
    std::vector<Found> found;
    const std::string root = "/sys/bus/usb/devices/";
    dirent** entries = nullptr;
    const int count = ::scandir(root.c_str(), &entries, nullptr, ::alphasort);
    for (int i = 0; i < count; ++i) {
        const std::string name = entries[i]->d_name;
        std::free(entries[i]);
        if (name.find(':') != std::string::npos || name[0] == '.') continue;  // interfaces
        const std::string dir = root + name + "/";
        const auto vendor = hexId(firstLine(dir + "idVendor"));
        const auto product = hexId(firstLine(dir + "idProduct"));
        const auto bcd = hexId(firstLine(dir + "bcdDevice"));
        if (!vendor || !product || !bcd || *vendor != 0x0403) continue;
        Found f;
        f.bus = static_cast<unsigned>(std::atoi(firstLine(dir + "busnum").c_str()));
        f.address = static_cast<unsigned>(std::atoi(firstLine(dir + "devnum").c_str()));
        char node[16], path[32];
        std::snprintf(node, sizeof node, "d:%03u/%03u", f.bus % 1000, f.address % 1000);
        std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", f.bus % 1000, f.address % 1000);
        f.device = {node, path, *vendor, *product, ftdiChip(*bcd), firstLine(dir + "serial"), firstLine(dir + "product")};
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", *vendor, *product);
        f.device.selector = f.device.serial.empty() ? node : "s:" + std::string(ids) + ":" + f.device.serial;
        f.sysfsName = name;
        found.push_back(f);
    }
    std::free(entries);
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
    });
    return found;
}

std::optional<Found> match(const Selector& s, const std::vector<Found>& devices) {
    unsigned seen = 0;
    for (const Found& f : devices) {
        if (s.kind == 'd') {
            if (f.bus == s.bus && f.address == s.address) return f;
            continue;
        }
        if (f.device.vendor != s.vendor || f.device.product != s.product) continue;
        if (s.kind == 's' ? f.device.serial == s.serial : seen++ == s.index) return f;
    }
    return std::nullopt;
}

class LibftdiSystem final : public FtdiSystem {
public:
    ~LibftdiSystem() override { close(); }

    FtdiOpen open(const std::string& text, char interface) override {
        FtdiOpen result;
        const auto selector = parseSelector(text);
        const auto found = selector ? match(*selector, sysfsDevices()) : std::nullopt;
        if (!found) {
            result.kind = FtdiOpen::Kind::NoMatch;
            return result;
        }
        result.device = found->device;
        if (!ftdiHasMpsse(found->device.chip, interface)) {
            result.kind = FtdiOpen::Kind::BadInterface;
            return result;
        }
        if (::access(found->device.path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
            result.kind = FtdiOpen::Kind::NoPermission;
            result.text = found->device.path;
            return result;
        }
        ftdi_ = ::ftdi_new();
        if (ftdi_ == nullptr) return result;
        ::ftdi_set_interface(ftdi_, static_cast<ftdi_interface>(INTERFACE_A + (interface - 'A')));
        const int opened = ::ftdi_usb_open_bus_addr(ftdi_, static_cast<std::uint8_t>(found->bus),
                                                    static_cast<std::uint8_t>(found->address));
        if (opened == -5) {
            // libusb's claim shows as "usbfs"; anything else is a kernel driver.
            const std::string link = "/sys/bus/usb/devices/" + found->sysfsName + ":1." +
                                     std::to_string(interface - 'A') + "/driver";
            char target[256] = {};
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            const std::string driver = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "";
            const std::string name = driver.substr(driver.rfind('/') + 1);
            result.kind = FtdiOpen::Kind::Busy;
            result.holder = name == "usbfs" ? "" : name;
            close();
            return result;
        }
        const char* step = opened < 0                                        ? "open"
                           : ::ftdi_tcioflush(ftdi_) < 0                     ? "flush"
                           : ::ftdi_set_latency_timer(ftdi_, 1) < 0          ? "set latency timer"
                           : ::ftdi_set_bitmode(ftdi_, 0, BITMODE_RESET) < 0 ? "reset bit mode"
                           : ::ftdi_set_bitmode(ftdi_, 0, BITMODE_MPSSE) < 0 ? "set MPSSE mode"
                                                                             : nullptr;
        if (step != nullptr) {
            result.text = std::string(step) + ": " + error();
            close();
            return result;
        }
        result.kind = FtdiOpen::Kind::Opened;
        return result;
    }

    std::vector<FtdiDevice> devices() override {
        std::vector<FtdiDevice> out;
        for (const Found& f : sysfsDevices()) out.push_back(f.device);
        return out;
    }

    int write(const std::uint8_t* data, int size) override { return ::ftdi_write_data(ftdi_, data, size); }
    int read(std::uint8_t* data, int size) override { return ::ftdi_read_data(ftdi_, data, size); }
    std::string error() override { return ftdi_ != nullptr ? ::ftdi_get_error_string(ftdi_) : "no device"; }

    void close() override {
        if (ftdi_ == nullptr) return;
        ::ftdi_usb_close(ftdi_);  // the pins stay as they were last set
        ::ftdi_free(ftdi_);
        ftdi_ = nullptr;
    }

    bool validSelector(const std::string& text) const override { return parseSelector(text).has_value(); }
    std::string sought(const std::string& text) const override {
        const auto selector = parseSelector(text);
        return selector && selector->kind != 'd' ? chipOfProduct(selector->product) : "FTDI device";
    }
    bool mayOpen(const FtdiDevice& device, std::string& why) const override {
        return platform::linux_devices::mayOpen(
            device.path, why, "install px77xx-cli's udev rule (60-px77xx-ftdi.rules), then plug the chip in again");
    }

private:
    ftdi_context* ftdi_ = nullptr;
};

}  // namespace

std::unique_ptr<FtdiSystem> ftdiSystem() { return std::make_unique<LibftdiSystem>(); }

const char kFtdiSelectorForms[] =
    "s:SERIAL, N (the Nth FTDI device attached, from 0), i:VID:PID[:N], s:VID:PID:SERIAL or d:BUS/ADDR (ids in hex, "
    "as lsusb shows them)";
const char kFtdiDescription[] =
    "the pins of an FTDI FT232H, FT2232H or FT4232H through libftdi (MPSSE), a write frame per USB write: the exact "
    "frames; D is s:SERIAL, an index, i:VID:PID[:N], s:VID:PID:SERIAL or d:BUS/ADDR, and may be left out with one FTDI "
    "chip attached";

}  // namespace ports
