// The table of backends and the checks of their keys.
#include "ports/factory.h"

#include "ports/i2c_port.h"
#include "ports/io_port.h"
#include "ports/lib_port.h"
#include "ports/ppdev_port.h"
#include "sim/board.h"

#include <array>
#include <cstdio>
#include <string>

namespace ports {
namespace {

constexpr std::string_view kDelayAccepts = "microseconds 0..1000000";

Spacing spacing(const Options& options) {
    return Spacing(static_cast<unsigned>(options.number("delay", 0, 1000000, kDelayAccepts).value_or(0)));
}

std::unique_ptr<bus::Port> createSim(const Options& options) {
    options.acceptOnly({"device"});
    const std::string device = options.text("device").value_or("px7702");
    if (device != "px7702" && device != "none") options.reject("device", "is not known", "px7702, none");
    return std::make_unique<sim::Board>(device == "px7702");
}

std::unique_ptr<bus::Port> createPpdev(const Options& options) {
    options.acceptOnly({"dev", "delay"});
    const std::string device = options.text("dev").value_or("/dev/parport0");
    if (device.empty()) options.reject("dev", "is empty", "a device path such as /dev/parport0");
    return std::make_unique<PpdevPort>(device, spacing(options));
}

std::unique_ptr<bus::Port> createIo(const Options& options) {
    options.acceptOnly({"base", "delay"});
    constexpr std::string_view accepts = "0x100..0xfffc, a multiple of 4";
    const auto base = options.number("base", 0x100, 0xFFFC, accepts).value_or(IoPort::kDefaultBase);
    if (base % 4 != 0) options.reject("base", "is not a multiple of 4", accepts);
    return std::make_unique<IoPort>(static_cast<std::uint16_t>(base), spacing(options));
}

std::unique_ptr<bus::Port> createLib(const Options& options) {
    options.acceptOnly({"path", "delay"});
    const auto path = options.text("path");
    if (!path || path->empty()) options.reject("path", "is required", "a shared library file exporting OutportW and InportW");
    return std::make_unique<LibPort>(*path, spacing(options));
}

std::string i2cDevice(const Options& options) {
    const auto device = options.text("dev");
    const auto bus = options.number("bus", 0, 1023, "an adapter number 0..1023, as i2cdetect -l lists it");
    if (device && bus) options.reject("bus", "goes with dev", "either dev=/dev/i2c-N or bus=N, not both");
    if (bus) return "/dev/i2c-" + std::to_string(*bus);
    return device.value_or("/dev/i2c-0");
}

std::unique_ptr<bus::Port> createI2c(const Options& options) {
    if (options.text("delay")) {
        options.reject("delay", "is not taken", "nothing: the kernel times the I2C bus; i2c accepts dev, bus");
    }
    options.acceptOnly({"dev", "bus"});
    const std::string device = i2cDevice(options);
    if (device.empty()) options.reject("dev", "is empty", "a device path such as /dev/i2c-1");
    return std::make_unique<I2cPort>(device);
}

std::string labelSim(const Options& options) {
    return options.text("device").value_or("px7702") == "none" ? "sim (no device)" : "sim";
}
std::string labelPpdev(const Options& options) { return "ppdev " + options.text("dev").value_or("/dev/parport0"); }
std::string labelIo(const Options& options) {
    char text[16];
    std::snprintf(text, sizeof text, "io 0x%x",
                  static_cast<unsigned>(options.number("base", 0, 0xFFFF, "").value_or(IoPort::kDefaultBase)));
    return text;
}
std::string labelI2c(const Options& options) { return "i2c " + i2cDevice(options); }
std::string labelLib(const Options& options) { return "lib " + options.text("path").value_or(""); }

constexpr std::array kBackends{
    Backend{"sim", "sim[:device=px7702|none]", "simulated board with a PX7702 on the bus (none: nothing answers)",
            createSim, labelSim},
    Backend{"ppdev", "ppdev[:dev=/dev/parportN][,delay=US]", "Linux parallel port through ppdev, claimed exclusively",
            createPpdev, labelPpdev},
    Backend{"io", "io[:base=0x378][,delay=US]", "direct port I/O on x86 (root or CAP_SYS_RAWIO)", createIo,
            labelIo},
    Backend{"i2c", "i2c[:dev=/dev/i2c-N|bus=N]", "any Linux I2C adapter through i2c-dev (the frames, not the pins)",
            createI2c, labelI2c},
    Backend{"lib", "lib:path=FILE[,delay=US]", "a shared library exporting OutportW and InportW", createLib,
            labelLib},
};

std::string validNames() {
    std::string names;
    for (const auto& backend : kBackends) {
        if (!names.empty()) names += ", ";
        names += backend.name;
    }
    return names;
}

const Backend& backendFor(const std::string& name) {
    for (const auto& backend : kBackends) {
        if (backend.name == name) return backend;
    }
    throw ConfigError("unknown port backend '" + printable(name) + "'; valid backends: " + validNames());
}

}  // namespace

std::span<const Backend> backends() { return kBackends; }

std::unique_ptr<bus::Port> openPort(std::string_view spec) {
    if (spec.empty()) throw ConfigError("empty port string; valid backends: " + validNames());
    const auto [name, options] = Options::parse(spec);
    return backendFor(name).create(options);
}

std::string portLabel(std::string_view spec) {
    const auto [name, options] = Options::parse(spec);
    return backendFor(name).label(options);
}

}  // namespace ports
