// What the CP2112 and MCP2221 backends share: choosing the device, opening it
// with messages a user can act on, the two modes over a chip's protocol, and
// the entries' make and detect.
#include "ports/hid_bridge.h"

#include "ports/lock_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace ports {
namespace {

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFF);
    return text;
}

std::string ids(const HidChip& chip) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", chip.vendor, chip.product);
    return text;
}

std::string describe(const HidChip& chip, const platform::hid::DeviceInfo& d) {
    std::string text = std::string(chip.chip) + " on " + d.node;
    if (!d.serial.empty()) text += " serial " + printable(d.serial);
    if (!d.name.empty()) text += " \"" + printable(d.name) + "\"";
    return text;
}

// The devices of a kind, numbered as dev=N takes them.
std::string listed(const HidChip& chip, const std::vector<platform::hid::DeviceInfo>& found) {
    std::string text;
    for (std::size_t i = 0; i < found.size(); ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(i) + ": " + describe(chip, found[i]);
    }
    return text;
}

// Every bridge of either kind attached, for a message about one that is not.
std::string attached(HidSystem& system) {
    std::string text;
    for (const HidChip* chip : {&kCp2112Chip, &kMcp2221Chip}) {
        for (const auto& d : system.devices(chip->vendor, chip->product)) text += (text.empty() ? "" : ", ") + describe(*chip, d);
    }
    return text.empty() ? "" : "; attached: " + text;
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 4 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A serial number that a port string can carry as it is.
bool plainSerial(const std::string& serial) {
    return !serial.empty() && std::all_of(serial.begin(), serial.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
    });
}

// The device dev= names among those attached: by serial (s:SERIAL), by its
// place in the list (N), or by path or node; with none named, the only one.
const platform::hid::DeviceInfo* choose(const std::vector<platform::hid::DeviceInfo>& found, const std::string& selector) {
    if (selector.empty()) return found.size() == 1 ? &found.front() : nullptr;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto& d = found[i];
        const bool match = selector.rfind("s:", 0) == 0 ? d.serial == selector.substr(2)
                           : allDigits(selector)         ? std::to_string(i) == selector
                                                         : (d.path == selector || d.node == selector);
        if (match) return &d;
    }
    return nullptr;
}

std::string heldByDriver(const HidChip& chip, const platform::hid::DeviceInfo& d) {
    return "the " + describe(chip, d) + " is held by the kernel's " + d.driver +
           " driver, which gives it no hidraw node: " + std::string(chip.kernelWay) + "; or, for this backend, unbind it (echo " +
           d.node + " > /sys/bus/hid/drivers/" + d.driver + "/unbind), keep the driver off (rmmod " +
           std::string(chip.linuxDriver) + ") and plug the chip in again";
}

}  // namespace

// --- the link ---

void HidLink::fail(const std::string& what, int code) const {
    throw bus::PortError(label_ + ": " + what, heldBack_).because(code);
}

void HidLink::lost(const char* operation, int error) const {
    broken_ = true;
    fail(std::string(operation) + ": " + std::strerror(error) + " (was the " + chip_ + " unplugged?)", error);
}

HidReport HidLink::getFeature(std::uint8_t number, std::size_t size) {
    HidReport report(size, 0);
    report[0] = number;
    if (const int n = device_->getFeature(report.data(), size); n < 0) lost("get feature report", -n);
    return report;
}

void HidLink::setFeature(const HidReport& report) {
    if (const int n = device_->setFeature(report.data(), report.size()); n < 0) lost("set feature report", -n);
}

void HidLink::write(const HidReport& report) {
    if (const int n = device_->write(report.data(), report.size()); n < 0) lost("write", -n);
}

HidReport HidLink::await(std::size_t at, std::uint8_t code) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    HidReport report(65, 0);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int n = left > 0 ? device_->read(report.data(), report.size(), static_cast<int>(left)) : 0;
        if (n < 0) lost("read", -n);
        if (n == 0) {
            broken_ = true;
            fail("the " + chip_ + " did not answer within 1 s", ETIMEDOUT);
        }
        if (static_cast<std::size_t>(n) > at && report[at] == code) {
            report.resize(std::max<std::size_t>(static_cast<std::size_t>(n), 65), 0);
            return report;
        }
    }
}

// --- the lines ---

HidLines::HidLines(const HidChip& chip, std::string selector, std::optional<HidPins> pins, std::unique_ptr<HidSystem> system)
    : chip_(chip), selector_(std::move(selector)), pins_(pins), system_(std::move(system)) {}

std::string HidLines::label() const { return std::string(chip_.name) + (selector_.empty() ? "" : " " + selector_); }

void HidLines::fail(const std::string& what, int code) const {
    throw bus::PortError(label() + ": " + what, !pins_).because(code);
}

std::optional<PortDetails> HidLines::details() const {
    if (!link_ || pins_) return std::nullopt;
    return PortDetails{std::string(chip_.chip) + " on " + where_, "I2C engine"};
}

void HidLines::claim() {
    const auto found = system_->devices(chip_.vendor, chip_.product);
    const platform::hid::DeviceInfo* chosen = nullptr;
    if (selector_.empty()) {
        if (found.empty()) fail("no " + std::string(chip_.chip) + " (" + ids(chip_) + ") is attached" + attached(*system_), ENODEV);
        // With two, the wrong one may be wired to something else: the user names it.
        if (found.size() > 1) {
            fail(std::to_string(found.size()) + " " + std::string(chip_.chip) +
                     "s are attached: name one with dev=s:SERIAL, dev=N or dev=PATH (" + listed(chip_, found) + ")",
                 EINVAL);
        }
        chosen = choose(found, selector_);
    } else {
        chosen = choose(found, selector_);
        if (chosen == nullptr) {
            fail("no " + std::string(chip_.chip) + " matches dev=" + printable(selector_) + "; " +
                     (found.empty() ? "none is attached" + attached(*system_)
                                    : std::string(chip_.chip) + "s here: " + listed(chip_, found)),
                 ENODEV);
        }
    }
    where_ = chosen->node + (chosen->serial.empty() ? "" : " (serial " + printable(chosen->serial) + ")");
    if (chosen->path.empty()) fail(heldByDriver(chip_, *chosen), EBUSY);
    auto opened = system_->open(chosen->path);
    if (!opened.device) {
        const std::string what = "open " + chosen->path + " (" + std::string(chip_.chip) + " on " + chosen->node + ")";
        if (opened.error == EACCES || opened.error == EPERM) {
            fail(what + ": Permission denied (" + platform::hid::accessFix() + ")", EACCES);
        }
        if (opened.error == EBUSY) fail(what + ": in use by another program", EBUSY);
        fail(what + ": " + opened.text, opened.error);
    }
    auto link = std::make_unique<HidLink>(label(), std::string(chip_.chip), std::move(opened.device), !pins_);
    auto bridge = chip_.bridge(*link);
    if (pins_) {
        bridge->claimPins(*pins_);
    } else {
        bridge->claimEngine();
    }
    link_ = std::move(link);
    bridge_ = std::move(bridge);
    scl_ = sda_ = shdn_ = true;
}

void HidLines::set(unsigned pin, bool level) {
    const auto mask = static_cast<std::uint8_t>(1U << pin);
    bridge_->setPins(mask, level ? mask : 0);
}

// One write of the data register. In bit-bang mode each line that changes is
// a report of its own, in the order the board reads a write: /SHDN first;
// where SCL falls, SCL before SDA, so that SDA only moves while SCL is low;
// where SCL rises and SDA moves (none of the programs' writes does), SDA first.
void HidLines::drive(bus::LineLevels levels) {
    if (!levels.shdn() && !(pins_ && pins_->shdn)) {
        if (!pins_) {
            fail("cannot drive /SHDN: the " + std::string(chip_.chip) +
                     "'s I2C engine carries whole transactions and has no /SHDN line (give its pins, sda=, scl= and "
                     "shdn=, to bit-bang the bus with one)",
                 0);
        }
        throw bus::PortError(label() + ": cannot drive /SHDN: no pin was given for it (shdn=N)");
    }
    try {
        if (!bridge_) claim();
        if (!pins_) {
            engine_.drive(levels.sda(), levels.scl());
            return;
        }
        if (pins_->shdn && levels.shdn() != shdn_) {
            set(*pins_->shdn, levels.shdn());
            shdn_ = levels.shdn();
        }
        if (!scl_ && levels.scl() && levels.sda() != sda_) {
            set(pins_->sda, levels.sda());
            sda_ = levels.sda();
        }
        if (levels.scl() != scl_) {
            set(pins_->scl, levels.scl());
            scl_ = levels.scl();
        }
        if (levels.sda() != sda_) {
            set(pins_->sda, levels.sda());
            sda_ = levels.sda();
        }
    } catch (const bus::PortError&) {
        if (link_ && link_->broken()) {
            bridge_.reset();
            link_.reset();
        }
        throw;
    }
}

bool HidLines::sampleSda() {
    try {
        if (!bridge_) claim();
        if (!pins_) return engine_.sda();
        return ((bridge_->readPins() >> pins_->sdaIn) & 1) != 0;
    } catch (const bus::PortError&) {
        if (link_ && link_->broken()) {
            bridge_.reset();
            link_.reset();
        }
        throw;
    }
}

void HidLines::send(const bus::Transaction& t) {
    if (!bridge_->write(t.address7(), t.bytes.data(), t.kept())) fail("no device answered at " + hex2(t.address7()), ENXIO);
}

std::uint8_t HidLines::fetch(std::uint8_t address7) {
    const auto byte = bridge_->read(address7);
    if (!byte) fail("no device answered at " + hex2(address7), ENXIO);
    return *byte;
}

// --- the entries ---

namespace {

const Key& key(std::span<const Key> keys, std::string_view name) {
    return *std::find_if(keys.begin(), keys.end(), [name](const Key& k) { return k.name == name; });
}

}  // namespace

Opened makeHid(const HidChip& chip, const Options& options, std::span<const Key> keys) {
    const std::string dev = options.text("dev").value_or("");
    const auto sda = options.number(key(keys, "sda"));
    const auto scl = options.number(key(keys, "scl"));
    const auto sdaIn = options.number(key(keys, "sda_in"));
    const auto shdn = options.number(key(keys, "shdn"));
    std::optional<HidPins> pins;
    if (sda || scl) {
        if (!sda) options.reject("sda", "is required with scl", "the GPIO pin wired to SDA");
        if (!scl) options.reject("scl", "is required with sda", "the GPIO pin wired to SCL");
        if (*scl == *sda) options.reject("scl", "is the pin sda has", "a pin of its own");
        const auto in = sdaIn.value_or(*sda);
        if (in == *scl) options.reject("sda_in", "is the pin scl has", "sda's pin or one tied to it");
        if (shdn && (*shdn == *sda || *shdn == *scl || *shdn == in)) {
            options.reject("shdn", "is a pin sda, scl or sda_in has", "a pin of its own");
        }
        pins = HidPins{static_cast<unsigned>(*sda), static_cast<unsigned>(*scl), static_cast<unsigned>(in), std::nullopt};
        if (shdn) pins->shdn = static_cast<unsigned>(*shdn);
    } else {
        const std::string onPins =
            "a pin, with sda= and scl= (without them, the " + std::string(chip.chip) + "'s I2C engine carries the frames)";
        if (shdn) options.reject("shdn", "needs the bus on the pins", onPins);
        if (sdaIn) options.reject("sda_in", "needs the bus on the pins", onPins);
        if (options.text("delay")) {
            options.reject("delay", "is for the pins only: the " + std::string(chip.chip) + "'s I2C engine times the bus itself",
                           "microseconds, with sda= and scl= given");
        }
    }
    // Every program that opens a bridge reads every report it sends: one
    // program a chip, by a lock named after the device chosen.
    HidSystem system;
    const auto found = system.devices(chip.vendor, chip.product);
    const platform::hid::DeviceInfo* chosen = choose(found, dev);
    std::string lockKey = chosen != nullptr ? lockKeyForFile(std::string(chip.name), chosen->path.empty() ? chosen->node : chosen->path)
                                            : std::string(chip.name) + "-not-found";
    auto lines = std::make_unique<HidLines>(chip, dev, pins);
    HidLines* backend = lines.get();
    std::string label = lines->label();
    Opened opened{std::make_unique<bus::LinePort>(label, std::move(lines)), label, nullptr, std::move(lockKey)};
    opened.details = [backend] { return backend->details(); };
    opened.carriesTransactions = !pins;
    return opened;
}

std::vector<DetectedPort> detectHid(const HidChip& chip) {
    std::vector<DetectedPort> found;
    HidSystem system;
    const auto devices = system.devices(chip.vendor, chip.product);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const auto& d = devices[i];
        DetectedPort port{std::string(chip.name),
                          std::string(chip.name) + ":dev=" + (plainSerial(d.serial) ? "s:" + d.serial : std::to_string(i)),
                          describe(chip, d) + ": its I2C engine; add sda=, scl= and shdn= (its " +
                              std::string(chip.pinName) + " pins) for the exact frames on its pins"};
        if (d.path.empty()) {
            port.usable = false;
            port.why = heldByDriver(chip, d);
        } else if (auto opened = system.open(d.path); !opened.device) {
            port.usable = false;
            port.why = d.path + (opened.error == EACCES || opened.error == EPERM
                                     ? ": permission denied: " + platform::hid::accessFix()
                                     : ": " + opened.text);
        }
        found.push_back(std::move(port));
    }
    return found;
}

}  // namespace ports
