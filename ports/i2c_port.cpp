// The i2c backend. Plain I2C transfers (I2C_RDWR) where the adapter offers them;
// otherwise SMBus: write byte data for an instruction and a code, send byte for
// a lone byte, receive byte for a read.
#include "ports/i2c_port.h"

#include "bus/lines.h"
#include "platform/linux/devices.h"
#include "ports/backend.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>

namespace ports {
namespace {

// The kernel carries a transaction whole or not at all: whatever fails, nothing
// of the transaction under way reached the bus.
bus::PortError heldBack(const std::string& message) { return bus::PortError(message, true); }

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

}  // namespace

I2cLines::I2cLines(std::string device, std::unique_ptr<DeviceSystem> system)
    : device_(std::move(device)), system_(std::move(system)) {}

I2cLines::~I2cLines() {
    if (fd_ >= 0) system_->close(fd_);
}

void I2cLines::fail(const std::string& operation, int error) {
    std::string message = "i2c " + device_ + ": " + operation + ": " + std::strerror(error);
    switch (error) {
        case ENOENT:
        case ENODEV:
            // Only an adapter's own node is missing for want of the module.
            if (device_.rfind("/dev/i2c-", 0) == 0) message += " (load the i2c-dev module; i2cdetect -l lists the adapters)";
            break;
        case EACCES:
        case EPERM: message += " (add your user to the i2c group, then log in again)"; break;
        case ENOTTY: message += " (not an I2C adapter; i2cdetect -l lists them)"; break;
        default: break;
    }
    throw heldBack(message).because(error);
}

void I2cLines::openAdapter() {
    const int fd = system_->open(device_);
    if (fd < 0) fail("open", -fd);
    unsigned long functions = 0;
    if (const int result = system_->ioctl(fd, I2C_FUNCS, &functions); result < 0) {
        system_->close(fd);  // the next access tries again from the start
        fail("I2C_FUNCS", -result);
    }
    fd_ = fd;
    functions_ = functions;
    selected_ = -1;
    adapterName_ = system_->deviceName(device_);
}

void I2cLines::selectAddress(std::uint8_t address) {
    if (selected_ == address) return;
    const int result = system_->ioctl(fd_, I2C_SLAVE, reinterpret_cast<void*>(static_cast<unsigned long>(address)));
    if (result == -EBUSY) {
        throw heldBack("i2c " + device_ + ": I2C_SLAVE " + hex(address) +
                             ": Device or resource busy (a kernel driver holds this address)");
    }
    if (result < 0) fail("I2C_SLAVE " + hex(address), -result);
    selected_ = address;
}

void I2cLines::transfer(std::uint8_t address, bool read, std::uint8_t* data, std::size_t length) {
    int result = 0;
    std::string operation;
    if ((functions_ & I2C_FUNC_I2C) != 0) {
        i2c_msg message{address, static_cast<std::uint16_t>(read ? I2C_M_RD : 0), static_cast<std::uint16_t>(length),
                        data};
        i2c_rdwr_ioctl_data request{&message, 1};
        operation = "I2C_RDWR";
        result = system_->ioctl(fd_, I2C_RDWR, &request);
    } else {
        // SMBus carries a read of one byte and writes of one or two.
        unsigned long needed = read ? I2C_FUNC_SMBUS_READ_BYTE
                                    : (length == 1 ? I2C_FUNC_SMBUS_WRITE_BYTE : I2C_FUNC_SMBUS_WRITE_BYTE_DATA);
        if (length > (read ? 1U : 2U) || (functions_ & needed) == 0) {
            throw heldBack("i2c " + device_ + ": cannot " + (read ? "read " : "write ") + std::to_string(length) +
                                 (length == 1 ? " byte " : " bytes ") + (read ? "from " : "to ") + hex(address) +
                                 ": the adapter offers no plain I2C transfers, and " +
                                 (length > (read ? 1U : 2U) ? "SMBus cannot carry that many"
                                                            : "not the SMBus transfer that would"));
        }
        selectAddress(address);
        i2c_smbus_data word{};
        i2c_smbus_ioctl_data request{};
        request.read_write = read ? I2C_SMBUS_READ : I2C_SMBUS_WRITE;
        if (read) {
            request.size = I2C_SMBUS_BYTE;
            request.data = &word;
        } else if (length == 1) {
            request.command = data[0];
            request.size = I2C_SMBUS_BYTE;
        } else {
            request.command = data[0];
            request.size = I2C_SMBUS_BYTE_DATA;
            word.byte = data[1];
            request.data = &word;
        }
        operation = "I2C_SMBUS";
        result = system_->ioctl(fd_, I2C_SMBUS, &request);
        if (read && result >= 0) data[0] = word.byte;
    }
    // Adapters say "nobody acknowledged" each their own way. Seen on Debian's
    // 6.1 kernel (tests/vm): i2c-stub answers ENODEV for an address with no chip,
    // hid-cp2112 ETIMEDOUT (its status "timeout, NACK"), i2c-tiny-usb ENXIO.
    // Others answer EREMOTEIO (the i2c core's own word for it) or EIO.
    if (result == -ENXIO || result == -EREMOTEIO || result == -EIO || result == -ENODEV || result == -ETIMEDOUT) {
        throw heldBack("i2c " + device_ + ": no device answered at " + hex(address));
    }
    if (result < 0) fail(operation, -result);
}

void I2cLines::send(const bus::Transaction& t) {
    std::array<std::uint8_t, bus::Transaction::kBytes> bytes = t.bytes;
    transfer(t.address7(), false, bytes.data(), t.kept());
}

std::uint8_t I2cLines::fetch(std::uint8_t address7) {
    std::uint8_t byte = 0xFF;
    transfer(address7, true, &byte, 1);
    return byte;
}

void I2cLines::drive(bus::LineLevels levels) {
    if (!levels.shdn()) {
        throw heldBack("i2c " + device_ +
                             ": cannot drive /SHDN: it is D4 of a parallel port, which an I2C adapter does not have");
    }
    if (fd_ < 0) openAdapter();
    lines_.drive(levels.sda(), levels.scl());
}

bool I2cLines::sampleSda() {
    if (fd_ < 0) openAdapter();
    return lines_.sda();
}

std::optional<PortDetails> I2cLines::details() const {
    if (fd_ < 0) return std::nullopt;
    return PortDetails{adapterName_, (functions_ & I2C_FUNC_I2C) != 0 ? "plain I2C" : "SMBus"};
}

std::vector<I2cAdapter> i2cAdapterList(const std::string& root) {
    std::vector<I2cAdapter> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("i2c-", 0) != 0) continue;
        const auto number = parseNumber(std::string_view(name).substr(4), 0, 1023);
        if (number.problem != NumberProblem::None) continue;
        const std::string adapter = firstLine((entry.path() / "name").string());
        found.push_back({static_cast<unsigned>(number.value), name + " (" + displayable(adapter) + ")"});
    }
    std::sort(found.begin(), found.end(), [](const I2cAdapter& a, const I2cAdapter& b) { return a.number < b.number; });
    return found;
}

std::vector<std::string> i2cAdapters(const std::string& root) {
    std::vector<std::string> adapters;
    for (auto& adapter : i2cAdapterList(root)) adapters.push_back(std::move(adapter.text));
    return adapters;
}

std::unique_ptr<bus::Port> i2cPort(const std::string& device, std::unique_ptr<DeviceSystem> system,
                                   I2cLines** lines) {
    auto backend = std::make_unique<I2cLines>(device, std::move(system));
    if (lines != nullptr) *lines = backend.get();
    return std::make_unique<bus::LinePort>("i2c " + device, std::move(backend));
}

namespace {

constexpr Key kI2cKeys[] = {
    {"delay", "", "", 0, 0, "i2c transfers are timed by the adapter"},
    {"dev", "a device path such as /dev/i2c-1"},
    {"bus", "an adapter number 0..1023, as i2cdetect -l lists it", "", 0, 1023},
};

Opened makeI2c(const Options& options) {
    const auto bus = options.number(kI2cKeys[2]);
    if (bus && options.text("dev")) options.reject("bus", "goes with dev", "either dev=/dev/i2c-N or bus=N, not both");
    if (!bus && !options.text("dev")) {
        // Bus 0 is often a graphics card's or the chipset's SMBus, with sensors
        // and memory on it: as i2c-tools do, the user names the bus.
        std::string found;
        for (const auto& adapter : i2cAdapters()) found += (found.empty() ? "" : ", ") + adapter;
        throw ConfigError("i2c: name the adapter with bus=N or dev=/dev/i2c-N (as i2cdetect -l lists them); " +
                          (found.empty() ? std::string("no I2C adapter is here (is i2c-dev loaded?)")
                                         : "adapters here: " + found));
    }
    const std::string device = bus ? "/dev/i2c-" + std::to_string(*bus) : *options.text("dev");
    if (device.empty()) options.reject("dev", "is empty", kI2cKeys[1].accepts);
    I2cLines* lines = nullptr;
    Opened opened{i2cPort(device, linuxDeviceSystem(), &lines), "i2c " + device};
    opened.details = [lines] { return lines->details(); };
    return opened;
}

std::vector<DetectedPort> detectI2c() {
    std::vector<DetectedPort> found;
    for (const I2cAdapter& adapter : i2cAdapterList()) {
        DetectedPort bus{"i2c", "i2c:bus=" + std::to_string(adapter.number), adapter.text};
        const std::string node = "/dev/i2c-" + std::to_string(adapter.number);
        if (!platform::linux_devices::exists(node)) {
            bus.usable = false;
            bus.why = node + " is not there: load i2c-dev (modprobe i2c-dev)";
        } else {
            bus.usable = platform::linux_devices::mayOpen(node, bus.why);
        }
        found.push_back(std::move(bus));
    }
    return found;
}

}  // namespace

const Backend kI2cBackend{"i2c", "i2c:bus=N|dev=/dev/i2c-N",
                          "any Linux I2C adapter through i2c-dev (the frames, not the pins)", kI2cKeys, makeI2c, true,
                          detectI2c};

}  // namespace ports
