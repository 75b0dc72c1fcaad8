// The gpio backend, through libgpiod (API v1). SDA and SCL are open-drain
// outputs: driving one high releases it to its pull-up, so a device can pull
// SDA low for its acknowledge and its data, and SDA is sampled by reading its
// line. Lines are requested at the first access and held until the program
// ends; the kernel refuses them to anyone else meanwhile.
#include "ports/gpio_port.h"

#include "platform/linux/devices.h"
#include "ports/backend.h"

#include <gpiod.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>

namespace ports {
namespace {

constexpr const char* kConsumer = "px77xx";

class LibgpiodSystem final : public GpioSystem {
public:
    ~LibgpiodSystem() override { close(); }

    int open(const std::string& chip, GpioChip& info) override {
        errno = 0;
        chip_ = ::gpiod_chip_open_lookup(chip.c_str());
        if (chip_ == nullptr) return errno != 0 ? -errno : -ENOENT;
        info = {::gpiod_chip_name(chip_), ::gpiod_chip_label(chip_), ::gpiod_chip_num_lines(chip_)};
        return 0;
    }

    std::vector<GpioChip> chips() override {
        std::vector<GpioChip> found;
        dirent** entries = nullptr;
        const int count = ::scandir("/dev", &entries, [](const dirent* e) {
            return std::strncmp(e->d_name, "gpiochip", 8) == 0 ? 1 : 0;
        }, ::alphasort);
        for (int i = 0; i < count; ++i) {
            GpioChip chip{entries[i]->d_name, "", 0};
            if (gpiod_chip* open = ::gpiod_chip_open_by_name(entries[i]->d_name)) {
                chip.label = ::gpiod_chip_label(open);
                chip.lines = ::gpiod_chip_num_lines(open);
                ::gpiod_chip_close(open);
            }
            found.push_back(chip);
            std::free(entries[i]);
        }
        std::free(entries);
        return found;
    }

    int request(std::span<const unsigned> offsets, bool openDrain, std::span<const int> values) override {
        gpiod_line_bulk bulk;
        ::gpiod_line_bulk_init(&bulk);
        for (const unsigned offset : offsets) {
            gpiod_line* line = ::gpiod_chip_get_line(chip_, offset);
            if (line == nullptr) return -errno;
            ::gpiod_line_bulk_add(&bulk, line);
        }
        const int flags = openDrain ? GPIOD_LINE_REQUEST_FLAG_OPEN_DRAIN : 0;
        if (::gpiod_line_request_bulk_output_flags(&bulk, kConsumer, flags, values.data()) < 0) return -errno;
        handles_.push_back(bulk);
        return static_cast<int>(handles_.size() - 1);
    }

    int set(int handle, std::span<const int> values) override {
        return ::gpiod_line_set_value_bulk(&handles_[static_cast<std::size_t>(handle)], values.data()) < 0 ? -errno : 0;
    }

    // libgpiod 1.6 reads a requested bulk as a whole: a single line of it would
    // answer with the first line's value.
    int get(int handle, std::span<int> values) override {
        return ::gpiod_line_get_value_bulk(&handles_[static_cast<std::size_t>(handle)], values.data()) < 0 ? -errno : 0;
    }

    std::string consumer(unsigned offset) override {
        gpiod_line* line = chip_ != nullptr ? ::gpiod_chip_get_line(chip_, offset) : nullptr;
        if (line == nullptr || ::gpiod_line_update(line) < 0) return {};
        const char* holder = ::gpiod_line_consumer(line);
        return holder != nullptr ? holder : (::gpiod_line_is_used(line) ? "the kernel" : "");
    }

    void close() override {
        handles_.clear();
        if (chip_ != nullptr) ::gpiod_chip_close(chip_);  // releases every line requested
        chip_ = nullptr;
    }

private:
    gpiod_chip* chip_ = nullptr;
    std::vector<gpiod_line_bulk> handles_;
};

}  // namespace

std::unique_ptr<GpioSystem> libgpiodSystem() { return std::make_unique<LibgpiodSystem>(); }

GpioLines::GpioLines(GpioWiring wiring, std::unique_ptr<GpioSystem> system)
    : wiring_(std::move(wiring)), system_(std::move(system)) {}

GpioLines::~GpioLines() {
    if (claimed_) system_->close();
}

void GpioLines::fail(const std::string& what, int code) const { throw bus::PortError(label() + ": " + what).because(code); }

void GpioLines::claim() {
    GpioChip chip;
    if (const int result = system_->open(wiring_.chip, chip); result < 0) {
        if (result == -EACCES || result == -EPERM) {
            const std::string node = wiring_.chip.rfind("/dev/", 0) == 0     ? wiring_.chip
                                     : wiring_.chip.rfind("gpiochip", 0) == 0 ? "/dev/" + wiring_.chip
                                                                              : "/dev/gpiochipN";
            fail("open: " + std::string(std::strerror(-result)) + " (add your user to the group that owns " + node +
                 ", then log in again; or add a udev rule)",
                 -result);
        }
        if (result != -ENOENT && result != -ENODEV) fail("open: " + std::string(std::strerror(-result)), -result);
        std::string there;
        for (const GpioChip& c : system_->chips()) {
            there += (there.empty() ? "" : ", ") + c.name + " (" + (c.label.empty() ? "?" : c.label) + ", " +
                     std::to_string(c.lines) + " lines)";
        }
        fail("no such GPIO chip; " + (there.empty() ? std::string("there are none here") : "chips here: " + there),
             ENOENT);
    }
    struct Role {
        const char* name;
        std::optional<unsigned> offset;
    };
    const std::array<Role, 3> roles{{{"SDA", wiring_.sda}, {"SCL", wiring_.scl}, {"/SHDN", wiring_.shdn}}};
    for (const Role& role : roles) {
        if (role.offset && *role.offset >= chip.lines) {
            system_->close();
            fail("line " + std::to_string(*role.offset) + " (" + role.name + ") is out of range: " + chip.name + " has " +
                 std::to_string(chip.lines) + " lines, 0.." + std::to_string(chip.lines - 1));
        }
    }
    // Released, both lines go high on their pull-ups: an idle bus.
    const std::array<unsigned, 2> bus{wiring_.scl, wiring_.sda};
    const std::array<int, 2> idle{1, 1};
    bus_ = system_->request(bus, true, idle);
    shdn_ = -1;
    if (bus_ >= 0 && wiring_.shdn) {
        const std::array<unsigned, 1> line{*wiring_.shdn};
        const std::array<int, 1> high{1};
        shdn_ = system_->request(line, false, high);  // /SHDN is an input: pushed both ways
    }
    const int failed = bus_ < 0 ? bus_ : (wiring_.shdn ? shdn_ : 0);
    if (failed < 0) {
        std::string message = "request: " + std::string(std::strerror(-failed));
        if (failed == -EBUSY) {
            for (const Role& role : roles) {
                if (!role.offset) continue;
                const std::string holder = system_->consumer(*role.offset);
                if (holder.empty()) continue;
                message = "line " + std::to_string(*role.offset) + " (" + role.name + ") of " + chip.name +
                          " is in use by " + holder;
                break;
            }
        }
        system_->close();  // the next access tries again from the start
        fail(message, -failed);
    }
    claimed_ = true;
    scl_ = sda_ = shdnLevel_ = true;
}

void GpioLines::set(bool scl, bool sda) {
    const std::array<int, 2> values{scl ? 1 : 0, sda ? 1 : 0};
    if (const int result = system_->set(bus_, values); result < 0) fail("set: " + std::string(std::strerror(-result)), -result);
    scl_ = scl;
    sda_ = sda;
}

// One write of the data register. The bus lines are one request, SCL before
// SDA, and a chip that sets lines one at a time (the CP2112's driver, emulating
// open drain) follows that order: where SCL falls, it is low before SDA moves,
// so SDA only ever changes while SCL is low, as on the board. A write that
// raises SCL and moves SDA (none of the programs' transactions has one) is
// split: SDA first, then SCL. /SHDN, on a request of its own, goes first.
void GpioLines::drive(bus::LineLevels levels) {
    if (!levels.shdn() && !wiring_.shdn) {
        fail("cannot drive /SHDN: no line was given for it (shdn=N)");
    }
    if (!claimed_) claim();
    if (wiring_.shdn && levels.shdn() != shdnLevel_) {
        const std::array<int, 1> value{levels.shdn() ? 1 : 0};
        if (const int result = system_->set(shdn_, value); result < 0) {
            fail("set /SHDN: " + std::string(std::strerror(-result)), -result);
        }
        shdnLevel_ = levels.shdn();
    }
    if (levels.scl() == scl_ && levels.sda() == sda_) return;
    if (!scl_ && levels.scl() && levels.sda() != sda_) set(false, levels.sda());
    set(levels.scl(), levels.sda());
}

bool GpioLines::sampleSda() {
    if (!claimed_) claim();
    std::array<int, 2> values{};
    if (const int result = system_->get(bus_, values); result < 0) fail("get: " + std::string(std::strerror(-result)), -result);
    return values[1] != 0;
}

namespace {

constexpr Key kGpioKeys[] = {
    {"chip", "a chip's name, path, label or number, as gpiodetect lists them", "gpiochip0"},
    {"sda", "a line number of the chip", "", 0, 1023},
    {"scl", "a line number of the chip", "", 0, 1023},
    {"shdn", "a line number of the chip", "", 0, 1023},
    kDelayKey,
};

Opened makeGpio(const Options& options) {
    GpioWiring wiring;
    wiring.chip = options.text(kGpioKeys[0]);
    if (wiring.chip.empty()) options.reject("chip", "is empty", kGpioKeys[0].accepts);
    const auto sda = options.number(kGpioKeys[1]);
    const auto scl = options.number(kGpioKeys[2]);
    const auto shdn = options.number(kGpioKeys[3]);
    if (!sda) options.reject("sda", "is required", kGpioKeys[1].accepts);
    if (!scl) options.reject("scl", "is required", kGpioKeys[2].accepts);
    if (*scl == *sda) options.reject("scl", "is the line sda has", "a line of its own");
    if (shdn && (*shdn == *sda || *shdn == *scl)) options.reject("shdn", "is a line sda or scl has", "a line of its own");
    wiring.sda = static_cast<unsigned>(*sda);
    wiring.scl = static_cast<unsigned>(*scl);
    if (shdn) wiring.shdn = static_cast<unsigned>(*shdn);
    auto lines = std::make_unique<GpioLines>(wiring);
    std::string label = lines->label();
    return {std::make_unique<bus::LinePort>(label, std::move(lines)), std::move(label)};
}

std::vector<DetectedPort> detectGpio() {
    std::vector<DetectedPort> found;
    const auto chips = libgpiodSystem()->chips();
    for (const GpioChip& chip : chips) {
        const bool labelled = !chip.label.empty() &&
                              std::count_if(chips.begin(), chips.end(), [&](const GpioChip& c) { return c.label == chip.label; }) == 1;
        DetectedPort gpio{"gpio", "gpio:chip=" + (labelled ? chip.label : chip.name) + ",sda=0,scl=1",
                          chip.name + (chip.label.empty() ? std::string() : " [" + displayable(chip.label) + "]") +
                              (chip.lines > 0 ? ", " + std::to_string(chip.lines) + " lines" : std::string()) +
                              "; sda= and scl= are the lines you wired"};
        gpio.usable = platform::linux_devices::mayOpen("/dev/" + chip.name, gpio.why);
        found.push_back(std::move(gpio));
    }
    return found;
}

}  // namespace

const Backend kGpioBackend{"gpio", "gpio:chip=C,sda=N,scl=M[,shdn=K][,delay=US]",
                           "GPIO lines through the kernel's GPIO device (libgpiod): the exact frames", kGpioKeys,
                           makeGpio, false, detectGpio};

}  // namespace ports
