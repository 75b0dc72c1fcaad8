// open, ioctl and close on the real kernel.
#include "ports/device_system.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ports {
namespace {

class LinuxDeviceSystem final : public DeviceSystem {
public:
    int open(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }
    int ioctl(int fd, unsigned long request, void* argument) override {
        const int result = ::ioctl(fd, request, argument);
        return result >= 0 ? result : -errno;
    }
    void close(int fd) override { ::close(fd); }
};

}  // namespace

std::unique_ptr<DeviceSystem> linuxDeviceSystem() { return std::make_unique<LinuxDeviceSystem>(); }

}  // namespace ports
