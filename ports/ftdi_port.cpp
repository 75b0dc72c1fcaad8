// The ftdi backend, through libftdi1. Devices are found in sysfs (as lsusb
// does, without opening any), opened by bus and address, put in MPSSE mode
// with the latency timer at 1 ms, and checked to echo a bad opcode as an MPSSE
// engine does before any pin moves. Pins are held until the program ends;
// closing leaves them as they are, so that a shutdown outlasts the program.
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

constexpr std::size_t kFlushAt = 3 * 128;  // queued bytes that go out at once, transaction or not

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

bool hasMpsse(const std::string& chip, char interface) {
    if (chip == "FT232H") return interface == 'A';
    return (chip == "FT2232H" || chip == "FT4232H") && (interface == 'A' || interface == 'B');
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
        if (!hasMpsse(found->device.chip, interface)) {
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

private:
    ftdi_context* ftdi_ = nullptr;
};

}  // namespace

std::unique_ptr<FtdiSystem> libftdiSystem() { return std::make_unique<LibftdiSystem>(); }


FtdiLines::FtdiLines(FtdiWiring wiring, std::unique_ptr<FtdiSystem> system)
    : wiring_(std::move(wiring)), system_(std::move(system)) {}

FtdiLines::~FtdiLines() {
    // A transaction cut short by an error is still sent, so that the pins end
    // as the program left them.
    if (encoder_ && !encoder_->queued().empty()) {
        try {
            send(queuedWrites_);
        } catch (const bus::PortError&) {
        }
    }
    system_->close();
}

void FtdiLines::fail(const std::string& what, std::uint64_t unsent, int code) const {
    throw bus::PortError::withUnsent(label() + ": " + what, unsent).because(code);
}

namespace {

std::string describe(const FtdiDevice& d) {
    std::string text = d.node + " " + hex4(d.vendor) + ":" + hex4(d.product) + " " + d.chip;
    if (!d.description.empty()) text += " \"" + printable(d.description) + "\"";
    if (!d.serial.empty()) text += " serial " + printable(d.serial);
    return text;
}

}  // namespace

void FtdiLines::claim() {
    const FtdiOpen opened = system_->open(wiring_.selector, wiring_.interface);
    const std::string chip = opened.device.chip + " at " + opened.device.node;
    const std::string interface(1, wiring_.interface);
    switch (opened.kind) {
        case FtdiOpen::Kind::Opened: break;
        case FtdiOpen::Kind::NoMatch: {
            std::string there;
            for (const FtdiDevice& d : system_->devices()) there += (there.empty() ? "" : ", ") + describe(d);
            const auto selector = parseSelector(wiring_.selector);
            const std::string what = selector && selector->kind != 'd' ? chipOfProduct(selector->product) : "FTDI device";
            fail("no " + what + " matches " + wiring_.selector + "; `lsusb` lists USB devices; " +
                 (there.empty() ? std::string("no FTDI device is attached") : "FTDI devices here: " + there),
                 0, ENODEV);
        }
        case FtdiOpen::Kind::NoPermission:
            fail("open " + opened.text + " (" + chip + "): Permission denied (install px77xx-cli, whose udev rule "
                 "gives the logged-in user FTDI devices, then unplug and replug it; or run as root)",
                 0, EACCES);
        case FtdiOpen::Kind::Busy:
            fail("interface " + interface + " of the " + chip + " is held by " +
                 (opened.holder.empty() ? std::string("another program")
                                        : "the kernel's " + opened.holder + " driver (unbind it, or rmmod " +
                                              opened.holder + ")"),
                 0, EBUSY);
        case FtdiOpen::Kind::BadInterface:
            fail("the " + chip + " has no MPSSE engine on interface " + interface + " (" +
                 (opened.device.chip == "FT232H"                                         ? "it has A"
                  : opened.device.chip == "FT2232H" || opened.device.chip == "FT4232H" ? "it has A and B"
                                                                                        : "FT232H, FT2232H and FT4232H have one") +
                 ")",
                 0, ENODEV);
        case FtdiOpen::Kind::Failed: fail(chip + ": " + opened.text);
    }
    device_ = opened.device;
    // The engine echoes an opcode it does not know: proof that what answers
    // is an MPSSE engine, and that nothing stale is left in the buffers.
    const std::uint8_t sync = mpsse::kSync;
    std::uint8_t echo[2] = {};
    mpsse::Wiring pins = wiring_.pins;
    pins.driveZero = device_.chip == "FT232H";
    if (system_->write(&sync, 1) != 1) {
        system_->close();
        fail(chip + ": write: " + system_->error());
    }
    try {
        receive(echo, 2, 0);
    } catch (const bus::PortError&) {
        system_->close();
        throw;
    }
    if (echo[0] != mpsse::kBadCommand || echo[1] != mpsse::kSync) {
        system_->close();
        fail("the " + chip + " did not answer as an MPSSE engine on interface " + interface);
    }
    auto encoder = std::make_unique<mpsse::Encoder>(pins);
    const auto setup = encoder->setup();
    if (system_->write(setup.data(), static_cast<int>(setup.size())) != static_cast<int>(setup.size())) {
        system_->close();
        fail(chip + ": write: " + system_->error());
    }
    encoder_ = std::move(encoder);
    queuedWrites_ = 0;
}

void FtdiLines::send(std::uint64_t unsent) {
    const auto& queue = encoder_->queued();
    const int size = static_cast<int>(queue.size());
    const int sent = system_->write(queue.data(), size);
    if (sent != size) {
        // The pins are not where the encoder thinks: the next access opens the
        // device again and starts from released lines.
        const std::string reason = sent < 0 ? system_->error() : std::to_string(sent) + " bytes taken";
        encoder_.reset();
        system_->close();
        fail("USB write of " + std::to_string(size) + " bytes failed: " + reason + " (was the " + device_.chip +
                 " unplugged?)",
             unsent);
    }
    encoder_->clear();
    queuedWrites_ = 0;
}

// libftdi returns what the chip has sent so far, which may be nothing: the
// chip answers every poll, with its status bytes alone when it has no data.
void FtdiLines::receive(std::uint8_t* data, int size, std::uint64_t unsent) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int got = 0;
    while (got < size) {
        const int n = system_->read(data + got, size - got);
        if (n < 0) {
            encoder_.reset();
            system_->close();
            fail("USB read failed: " + system_->error() + " (was the " + device_.chip + " unplugged?)", unsent);
        }
        got += n;
        if (got < size && std::chrono::steady_clock::now() > deadline) {
            encoder_.reset();
            system_->close();
            fail("the " + device_.chip + " did not answer within 1 s", unsent, ETIMEDOUT);
        }
    }
}

void FtdiLines::drive(bus::LineLevels levels) {
    if (!levels.shdn() && !wiring_.pins.shdn) fail("cannot drive /SHDN: no pin was given for it (shdn=N)", 0, 0);
    if (!encoder_) claim();
    const std::uint64_t taken = queuedWrites_;
    encoder_->drive(levels);
    ++queuedWrites_;
    if (encoder_->endsTransaction() || encoder_->queued().size() >= kFlushAt) send(taken);
}

bool FtdiLines::sampleSda() {
    if (!encoder_) claim();
    encoder_->sample();
    send(queuedWrites_);
    std::uint8_t pins = 0;
    receive(&pins, 1, 0);
    return encoder_->sda(pins);
}

namespace {

constexpr Key kFtdiKeys[] = {
    {"dev", "i:VID:PID[:N], s:VID:PID:SERIAL or d:BUS/ADDR (ids in hex, as lsusb shows them)"},
    {"iface", "A, B, C or D"},
    {"scl", "an ADBUS pin 0..7", "0", 0, 7},
    {"sda", "an ADBUS pin 0..7", "1", 0, 7},
    {"sda_in", "an ADBUS pin 0..7 tied to sda, or sda's own (the default: 2 with sda=1, else sda's)", "", 0, 7},
    {"shdn", "an ADBUS pin 0..7", "", 0, 7},
    // A delay between queued writes would not space the pin changes, which
    // the chip makes at its own pace from each USB write.
    {"delay", "", "", 0, 0, "the FTDI chip sets the pins from each USB write at its own pace"},
};

Opened makeFtdi(const Options& options) {
    FtdiWiring wiring;
    const auto dev = options.text("dev");
    if (!dev) {
        // Two adapters on one desk are common, and a wrong one may be wired
        // to something else: as with i2c, the user names the device.
        std::string found;
        for (const FtdiDevice& d : libftdiSystem()->devices()) found += (found.empty() ? "" : ", ") + describe(d);
        throw ConfigError("ftdi: name the device with dev=i:VID:PID, s:VID:PID:SERIAL or d:BUS/ADDR; " +
                          (found.empty() ? std::string("no FTDI device is attached (`lsusb` lists USB devices)")
                                         : "FTDI devices here: " + found));
    }
    if (!parseSelector(*dev)) options.reject("dev", "is not a device libftdi can name", kFtdiKeys[0].accepts);
    wiring.selector = *dev;
    const std::string iface = options.text("iface").value_or("A");
    if (iface.size() != 1 || iface[0] < 'A' || iface[0] > 'D') options.reject("iface", "is not an interface", "A, B, C or D");
    wiring.interface = iface[0];
    const auto scl = *options.number(kFtdiKeys[2]);
    const auto sda = *options.number(kFtdiKeys[3]);
    // AD1 out and AD2 in, tied, is how MPSSE I2C boards are wired; a pin
    // named for SDA alone is read back where it is.
    const auto sdaIn = options.number(kFtdiKeys[4]).value_or(options.text("sda") ? sda : 2);
    const auto shdn = options.number(kFtdiKeys[5]);
    if (scl == sda) options.reject("scl", "is the pin sda has", "a pin of its own");
    if (sdaIn == scl) options.reject("sda_in", "is the pin scl has", "sda's pin or one tied to it");
    if (shdn && (*shdn == scl || *shdn == sda || *shdn == sdaIn)) {
        options.reject("shdn", "is a pin scl, sda or sda_in has", "a pin of its own");
    }
    wiring.pins = {static_cast<unsigned>(scl), static_cast<unsigned>(sda), static_cast<unsigned>(sdaIn), std::nullopt, false};
    if (shdn) wiring.pins.shdn = static_cast<unsigned>(*shdn);
    auto lines = std::make_unique<FtdiLines>(wiring);
    std::string label = lines->label();
    return {std::make_unique<bus::LinePort>(label, std::move(lines)), std::move(label)};
}

std::vector<DetectedPort> detectFtdi() {
    std::vector<DetectedPort> found;
    for (const FtdiDevice& d : libftdiSystem()->devices()) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", d.vendor, d.product);
        const std::string dev = d.serial.empty() ? d.node : "s:" + std::string(ids) + ":" + d.serial;
        const std::string description =
            d.chip + (d.description.empty() ? "" : " \"" + displayable(d.description) + "\"") + " on " + d.node;
        const bool dual = d.chip == "FT2232H" || d.chip == "FT4232H";
        const bool mpsse = dual || d.chip == "FT232H";
        for (const char* iface : dual ? std::vector<const char*>{"A", "B"} : std::vector<const char*>{"A"}) {
            DetectedPort ftdi{"ftdi", "ftdi:dev=" + dev + (dual ? std::string(",iface=") + iface : ""), description};
            if (!mpsse) {
                ftdi.usable = false;
                ftdi.why = "the " + d.chip + " has no MPSSE engine";
            } else {
                ftdi.usable = platform::linux_devices::mayOpen(
                    d.path, ftdi.why, "install px77xx-cli's udev rule (60-px77xx-ftdi.rules), then plug the chip in again");
            }
            found.push_back(std::move(ftdi));
        }
    }
    return found;
}

}  // namespace

const Backend kFtdiBackend{"ftdi", "ftdi:dev=D[,iface=A][,scl=0][,sda=1][,sda_in=2][,shdn=N]",
                           "the pins of an FTDI FT232H, FT2232H or FT4232H through libftdi (MPSSE), a write frame "
                           "per USB write: the exact frames; D is i:VID:PID[:N], s:VID:PID:SERIAL or d:BUS/ADDR",
                           kFtdiKeys, makeFtdi, false, detectFtdi};

}  // namespace ports
