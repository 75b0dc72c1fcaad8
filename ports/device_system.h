// The system calls of a character-device backend (ppdev, i2c-dev), so that tests
// can stand in for the kernel and record what is asked of it.
#pragma once

#include <memory>
#include <string>

namespace ports {

// Results are as the kernel gives them: a value >= 0, or -errno.
class DeviceSystem {
public:
    virtual ~DeviceSystem() = default;
    virtual int open(const std::string& path) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void close(int fd) = 0;
    // The name the kernel gives the device behind a character-device node
    // (its class device's "name" in sysfs: an I2C adapter's name), or "".
    virtual std::string deviceName(const std::string& /*path*/) { return std::string(); }
};

std::unique_ptr<DeviceSystem> linuxDeviceSystem();

// The first line of a small file (a sysfs or procfs attribute), or "".
std::string firstLine(const std::string& path);

}  // namespace ports
