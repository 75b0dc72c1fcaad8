// The ftdi backend: an FTDI chip's MPSSE engine driving SCL, SDA and /SHDN,
// a write frame per USB write, over whichever driver the system has
// (ftdi_libftdi.cpp, ftdi_d2xx.cpp). What answers is checked to echo a bad
// opcode as an MPSSE engine does before any pin moves. Pins are held until the
// program ends; closing leaves them as they are, so that a shutdown outlasts it.
#include "ports/ftdi_port.h"

#include "ports/backend.h"

#include <chrono>
#include <cstdio>

namespace ports {
namespace {

constexpr std::size_t kFlushAt = 3 * 128;  // queued bytes that go out at once, transaction or not

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

}  // namespace

bool ftdiHasMpsse(const std::string& chip, char interface) {
    if (chip == "FT232H") return interface == 'A';
    return (chip == "FT2232H" || chip == "FT4232H") && (interface == 'A' || interface == 'B');
}

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
            fail("no " + system_->sought(wiring_.selector) + " matches " + wiring_.selector + "; " +
                 system_->listingHint() + "; " +
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
        case FtdiOpen::Kind::NoDriver: fail(opened.text, 0, ENOENT);
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

// Not constexpr: what dev= takes is the driver's text, from another file.
const Key kFtdiKeys[] = {
    {"dev", kFtdiSelectorForms},
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
    auto dev = options.text("dev");
    if (!dev) {
        // With one chip attached there is nothing to choose; with two, a wrong
        // one may be wired to something else: the user names it.
        const auto system = ftdiSystem();
        if (const std::string why = system->unavailable(); !why.empty()) throw ConfigError("ftdi: " + why);
        const auto attached = system->devices();
        std::vector<const FtdiDevice*> engines;
        std::string found;
        for (const FtdiDevice& d : attached) {
            found += (found.empty() ? "" : ", ") + describe(d);
            if (ftdiHasMpsse(d.chip, d.interface != 0 ? d.interface : 'A') && !d.selector.empty()) engines.push_back(&d);
        }
        if (engines.size() != 1 || attached.size() != 1) {
            throw ConfigError(std::string("ftdi: name the device with dev=") + kFtdiSelectorForms + "; " +
                              (found.empty() ? "no FTDI device is attached (" + system->listingHint() + ")"
                                             : "FTDI devices here: " + found));
        }
        dev = engines.front()->selector;
    }
    if (const auto system = ftdiSystem(); !system->validSelector(*dev)) {
        // A serial number alone, or the device's place in detect's list, as
        // the HID adapters take them: resolved against what is attached.
        const bool index = !dev->empty() && dev->size() <= 3 &&
                           dev->find_first_not_of("0123456789") == std::string::npos;
        const bool serial = dev->rfind("s:", 0) == 0 && dev->size() > 2 && dev->find(':', 2) == std::string::npos;
        if (!index && !serial) options.reject("dev", "is not a device " + system->driver() + " can name", kFtdiSelectorForms);
        const auto attached = system->devices();
        std::string found;
        const FtdiDevice* named = nullptr;
        for (std::size_t i = 0; i < attached.size(); ++i) {
            const FtdiDevice& d = attached[i];
            found += (found.empty() ? "" : ", ") + std::to_string(i) + ": " + describe(d);
            if (named == nullptr && !d.selector.empty() && (index ? std::to_string(i) == *dev : d.serial == dev->substr(2))) named = &d;
        }
        if (named == nullptr) {
            throw ConfigError("ftdi: no FTDI device " + (index ? "is number " + *dev : "has serial " + printable(dev->substr(2))) +
                              "; " + (found.empty() ? "no FTDI device is attached (" + system->listingHint() + ")"
                                                    : "FTDI devices here: " + found));
        }
        dev = named->selector;
    }
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
    const auto system = ftdiSystem();
    if (const std::string why = system->unavailable(); !why.empty()) {
        found.push_back({"ftdi", "ftdi", "FTDI chips (FT232H, FT2232H, FT4232H)", false, why});
        return found;
    }
    for (const FtdiDevice& d : system->devices()) {
        const std::string description =
            d.chip + (d.description.empty() ? "" : " \"" + displayable(d.description) + "\"") + " on " + d.node;
        const bool dual = d.interface == 0 && (d.chip == "FT2232H" || d.chip == "FT4232H");
        for (const char* iface : dual ? std::vector<const char*>{"A", "B"} : std::vector<const char*>{"A"}) {
            const char letter = d.interface != 0 ? d.interface : iface[0];
            DetectedPort ftdi{"ftdi", "ftdi:dev=" + d.selector + (dual ? std::string(",iface=") + iface : ""),
                              description};
            if (!ftdiHasMpsse(d.chip, letter)) {
                ftdi.usable = false;
                ftdi.why = "the " + d.chip + (d.interface != 0 ? std::string(" has no MPSSE engine on interface ") + letter
                                                               : std::string(" has no MPSSE engine"));
            } else if (d.selector.empty()) {
                ftdi.usable = false;
                ftdi.why = "another program has it open";
            } else {
                ftdi.usable = system->mayOpen(d, ftdi.why);
            }
            found.push_back(std::move(ftdi));
        }
    }
    return found;
}

}  // namespace

const Backend kFtdiBackend{"ftdi", "ftdi[:dev=D][,iface=A][,scl=0][,sda=1][,sda_in=2][,shdn=N]", kFtdiDescription,
                           kFtdiKeys, makeFtdi, false, detectFtdi};

}  // namespace ports
