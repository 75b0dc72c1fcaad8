// pxctl detect: what this machine offers as ports. A Linux build finds its
// parallel ports, I2C adapters, GPIO chips and FTDI chips in /dev, /sys and
// /proc; a Windows build names the port library the programs have always used.
#include "ports/detect.h"

#if PX_LINUX_BACKENDS
#include "platform/linux/devices.h"
#include "ports/device_system.h"
#include "ports/ftdi_port.h"
#include "ports/gpio_port.h"
#include "ports/i2c_port.h"
#include "ports/options.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#endif

namespace ports {
namespace {

#if PX_LINUX_BACKENDS
using platform::linux_devices::mayOpen;

// Devices named like prefixN in dir, in number order.
std::vector<std::pair<unsigned, std::string>> numbered(const std::string& dir, const std::string& prefix) {
    std::vector<std::pair<unsigned, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const auto number = parseNumber(std::string_view(name).substr(prefix.size()), 0, 4095);
        if (number.problem == NumberProblem::None) found.emplace_back(static_cast<unsigned>(number.value), name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

void parports(std::vector<DetectedPort>& out) {
    for (const auto& [number, name] : numbered("/dev", "parport")) {
        const std::string proc = "/proc/sys/dev/parport/" + name + "/";
        const std::string base = firstLine(proc + "base-addr");
        const std::string modes = firstLine(proc + "modes");
        unsigned address = 0;
        std::string description = "parallel port";
        if (std::sscanf(base.c_str(), "%u", &address) == 1) {
            char text[32];
            std::snprintf(text, sizeof text, " at 0x%x", address);
            description += text;
        }
        if (!modes.empty()) description += " (" + displayable(modes) + ")";
        DetectedPort ppdev{"parport", "ppdev:dev=/dev/" + name, description};
        ppdev.usable = mayOpen("/dev/" + name, ppdev.why);
        out.push_back(ppdev);
        if (address != 0) {
            char port[32];
            std::snprintf(port, sizeof port, "io:base=0x%x", address);
            DetectedPort io{"io", port, description + " by direct port I/O"};
            io.usable = platform::linux_devices::mayUseRawIo();
            if (!io.usable) io.why = "direct port I/O: run as root, or grant CAP_SYS_RAWIO";
            out.push_back(io);
        }
    }
}

void i2cBuses(std::vector<DetectedPort>& out) {
    for (const I2cAdapter& adapter : i2cAdapterList()) {
        DetectedPort bus{"i2c", "i2c:bus=" + std::to_string(adapter.number), adapter.text};
        const std::string node = "/dev/i2c-" + std::to_string(adapter.number);
        if (!platform::linux_devices::exists(node)) {
            bus.usable = false;
            bus.why = node + " is not there: load i2c-dev (modprobe i2c-dev)";
        } else {
            bus.usable = mayOpen(node, bus.why);
        }
        out.push_back(bus);
    }
}

void gpioChips(std::vector<DetectedPort>& out) {
    const auto chips = libgpiodSystem()->chips();
    for (const GpioChip& chip : chips) {
        const bool labelled = !chip.label.empty() &&
                              std::count_if(chips.begin(), chips.end(), [&](const GpioChip& c) { return c.label == chip.label; }) == 1;
        DetectedPort gpio{"gpio", "gpio:chip=" + (labelled ? chip.label : chip.name) + ",sda=0,scl=1",
                          chip.name + (chip.label.empty() ? std::string() : " [" + displayable(chip.label) + "]") +
                              (chip.lines > 0 ? ", " + std::to_string(chip.lines) + " lines" : std::string()) +
                              "; sda= and scl= are the lines you wired"};
        gpio.usable = mayOpen("/dev/" + chip.name, gpio.why);
        out.push_back(gpio);
    }
}

void ftdiChips(std::vector<DetectedPort>& out) {
    for (const FtdiDevice& d : libftdiSystem()->devices()) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", d.vendor, d.product);
        const std::string dev = d.serial.empty() ? d.node : "s:" + std::string(ids) + ":" + d.serial;
        std::string description = d.chip + (d.description.empty() ? "" : " \"" + displayable(d.description) + "\"") +
                                  " on " + d.node;
        const bool dual = d.chip == "FT2232H" || d.chip == "FT4232H";
        const bool mpsse = dual || d.chip == "FT232H";
        for (const char* iface : dual ? std::vector<const char*>{"A", "B"} : std::vector<const char*>{"A"}) {
            DetectedPort ftdi{"ftdi", "ftdi:dev=" + dev + (dual ? std::string(",iface=") + iface : ""), description};
            if (!mpsse) {
                ftdi.usable = false;
                ftdi.why = "the " + d.chip + " has no MPSSE engine";
            } else {
                ftdi.usable = mayOpen(d.path, ftdi.why,
                                      "install px77xx-cli's udev rule (60-px77xx-ftdi.rules), then plug the chip in again");
            }
            out.push_back(ftdi);
        }
    }
}

#endif

const DetectedPort kSim{"sim", "sim", "the simulated board (a fresh one each run; sim:state=FILE keeps it)"};

}  // namespace

std::vector<DetectedPort> detectPorts() {
#if PX_LINUX_BACKENDS
    std::vector<DetectedPort> out;
    parports(out);
    i2cBuses(out);
    gpioChips(out);
    ftdiChips(out);
    out.push_back(kSim);
    return out;
#else
    // Windows names no parallel port, adapter or pin that pxctl could open but
    // through a port library the user installs.
    return {kSim, {"lib", "lib:path=ntport.dll", "the port library ntport.dll, where it is installed"}};
#endif
}

}  // namespace ports
