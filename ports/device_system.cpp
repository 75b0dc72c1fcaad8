// open, ioctl and close on the real kernel.
#include "ports/device_system.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
    std::string deviceName(const std::string& path) override {
        struct stat node {};
        if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return {};
        char sysfs[64];
        std::snprintf(sysfs, sizeof sysfs, "/sys/dev/char/%u:%u/name", major(node.st_rdev), minor(node.st_rdev));
        return firstLine(sysfs);
    }
};

}  // namespace

std::unique_ptr<DeviceSystem> linuxDeviceSystem() { return std::make_unique<LinuxDeviceSystem>(); }

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace ports
