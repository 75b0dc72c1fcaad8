// The ppdev backend. D0..D7 are written with PPWDATA; the status register, whose
// bit 3 (nError, pin 15) is wired to SDA, is read with PPRSTATUS.
#include "ports/ppdev_port.h"

#include "bus/lines.h"
#include "platform/linux/devices.h"
#include "ports/backend.h"
#include "ports/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

namespace ports {
namespace {

const char* hintFor(const std::string& device, const char* operation, int error) {
    // Once the device is open, ENXIO from PPCLAIM means the port is held: the
    // kernel answers so while another ppdev user or the lp driver has it.
    if (error == ENXIO && std::strcmp(operation, "PPCLAIM") == 0) return "another program or the lp driver holds the port";
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            // Only a parallel port's own node is missing for want of the modules.
            return device.rfind("/dev/parport", 0) == 0 ? "load the parport_pc and ppdev modules" : nullptr;
        case EACCES:
        case EPERM: return "add your user to the lp group, then log in again";
        case EBUSY: return "another program or the lp driver holds the port";
        case ENOTTY: return "not a parallel port device";
        default: return nullptr;
    }
}

}  // namespace

PpdevPort::PpdevPort(std::string device, std::unique_ptr<DeviceSystem> system)
    : device_(std::move(device)), system_(std::move(system)) {}

PpdevPort::~PpdevPort() {
    if (fd_ < 0) return;
    system_->ioctl(fd_, PPRELEASE, nullptr);  // nothing to report it to: the program is going
    system_->close(fd_);
}

void PpdevPort::fail(const char* operation, int error) const {
    std::string message = "ppdev " + device_ + ": " + operation + ": " + std::strerror(error);
    if (const char* hint = hintFor(device_, operation, error)) message += std::string(" (") + hint + ")";
    throw bus::PortError(message).because(error);
}

void PpdevPort::claim() {
    const int fd = system_->open(device_);
    if (fd < 0) fail("open", -fd);
    // Exclusive: no other ppdev user or the lp driver may share the port while we hold it.
    int result = system_->ioctl(fd, PPEXCL, nullptr);
    const char* operation = "PPEXCL";
    if (result == 0) {
        result = system_->ioctl(fd, PPCLAIM, nullptr);
        operation = "PPCLAIM";
    }
    if (result < 0) {
        system_->close(fd);  // the next access tries again from the start
        fail(operation, -result);
    }
    fd_ = fd;
}

void PpdevPort::OutportW(std::uint16_t port, std::uint16_t value) {
    if (port != bus::kDataRegister) throw bus::badRegister("ppdev " + device_, "write", port);
    if (fd_ < 0) claim();
    unsigned char data = static_cast<unsigned char>(value & 0xFF);
    if (const int result = system_->ioctl(fd_, PPWDATA, &data); result < 0) fail("PPWDATA", -result);
}

std::uint16_t PpdevPort::InportW(std::uint16_t port) {
    if (port != bus::kStatusRegister) throw bus::badRegister("ppdev " + device_, "read", port);
    if (fd_ < 0) claim();
    unsigned char status = 0;
    if (const int result = system_->ioctl(fd_, PPRSTATUS, &status); result < 0) fail("PPRSTATUS", -result);
    return status;
}

namespace {

constexpr Key kPpdevKeys[] = {{"dev", "a device path such as /dev/parport0", "/dev/parport0"}, kDelayKey};

Opened makePpdev(const Options& options) {
    const std::string device = options.text(kPpdevKeys[0]);
    if (device.empty()) options.reject("dev", "is empty", kPpdevKeys[0].accepts);
    return {std::make_unique<PpdevPort>(device), "ppdev " + device};
}

std::vector<DetectedPort> detectPpdev() {
    std::vector<DetectedPort> found;
    for (const ParallelPort& parport : parallelPorts()) {
        DetectedPort port{"parport", "ppdev:dev=/dev/" + parport.name, parport.description()};
        port.usable = platform::linux_devices::mayOpen("/dev/" + parport.name, port.why);
        found.push_back(std::move(port));
    }
    return found;
}

}  // namespace

std::vector<ParallelPort> parallelPorts() {
    std::vector<std::pair<unsigned, std::string>> numbered;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("parport", 0) != 0) continue;
        const auto number = parseNumber(std::string_view(name).substr(7), 0, 4095);
        if (number.problem == NumberProblem::None) numbered.emplace_back(static_cast<unsigned>(number.value), name);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<ParallelPort> ports;
    for (const auto& [number, name] : numbered) {
        const std::string proc = "/proc/sys/dev/parport/" + name + "/";
        ParallelPort port{name, 0, firstLine(proc + "modes")};
        if (std::sscanf(firstLine(proc + "base-addr").c_str(), "%u", &port.base) != 1) port.base = 0;
        ports.push_back(std::move(port));
    }
    return ports;
}

std::string ParallelPort::description() const {
    std::string text = "parallel port";
    if (base != 0) {
        char at[32];
        std::snprintf(at, sizeof at, " at 0x%x", base);
        text += at;
    }
    if (!modes.empty()) text += " (" + displayable(modes) + ")";
    return text;
}

const Backend kPpdevBackend{"ppdev", "ppdev[:dev=/dev/parportN][,delay=US]",
                            "Linux parallel port through ppdev, claimed exclusively", kPpdevKeys, makePpdev, false,
                            detectPpdev};

}  // namespace ports
