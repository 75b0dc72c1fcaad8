// HID devices on Linux: sysfs for who is attached and which driver holds it,
// hidraw for the reports. hidraw gives a numbered device's reports with their
// number and an unnumbered one's without; here both carry one, as on Windows.
#include "platform/hid.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::hid {
namespace {

namespace fs = std::filesystem;

// A key of a sysfs uevent file: "HID_UNIQ=0001" gives "0001".
std::string ueventValue(const fs::path& device, const std::string& key) {
    std::ifstream in(device / "uevent");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

// Whether a report descriptor gives reports numbers (a Report ID item, 0x85).
bool numbered(const std::uint8_t* d, std::size_t size) {
    for (std::size_t i = 0; i < size;) {
        const std::uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // a long item: its data size is in the next byte
            if (i + 1 >= size) break;
            i += 3 + d[i + 1];
            continue;
        }
        if ((prefix & 0xFC) == 0x84) return true;
        const std::size_t length = (prefix & 3) == 3 ? 4 : (prefix & 3);
        i += 1 + length;
    }
    return false;
}

class Hidraw final : public Device {
public:
    Hidraw(int fd, bool numbered) : fd_(fd), numbered_(numbered) {}
    ~Hidraw() override { ::close(fd_); }

    int getFeature(std::uint8_t* data, std::size_t size) override {
        const int n = ::ioctl(fd_, HIDIOCGFEATURE(size), data);
        return n < 0 ? -errno : n;
    }
    int setFeature(const std::uint8_t* data, std::size_t size) override {
        const int n = ::ioctl(fd_, HIDIOCSFEATURE(size), data);
        return n < 0 ? -errno : n;
    }
    int write(const std::uint8_t* data, std::size_t size) override {
        const ssize_t n = ::write(fd_, data, size);
        return n < 0 ? -errno : static_cast<int>(n);
    }
    int read(std::uint8_t* data, std::size_t size, int timeoutMs) override {
        if (size == 0) return -EINVAL;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0) return -errno;
        if (ready == 0) return 0;
        if ((p.revents & (POLLERR | POLLHUP)) != 0 && (p.revents & POLLIN) == 0) return -ENODEV;
        std::uint8_t* into = numbered_ ? data : data + 1;
        const ssize_t n = ::read(fd_, into, numbered_ ? size : size - 1);
        if (n < 0) return -errno;
        if (numbered_) return static_cast<int>(n);
        data[0] = 0;
        return static_cast<int>(n) + 1;
    }

private:
    int fd_;
    bool numbered_;
};

}  // namespace

std::vector<DeviceInfo> devices(std::uint16_t vendor, std::uint16_t product) {
    std::vector<DeviceInfo> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/bus/hid/devices", error)) {
        // "0003:10C4:EA90.0001": bus, vendor, product, instance.
        const std::string name = entry.path().filename().string();
        unsigned bus = 0, v = 0, p = 0, instance = 0;
        if (std::sscanf(name.c_str(), "%x:%x:%x.%x", &bus, &v, &p, &instance) != 4) continue;
        if (v != vendor || p != product) continue;
        DeviceInfo info;
        info.vendor = static_cast<std::uint16_t>(v);
        info.product = static_cast<std::uint16_t>(p);
        info.serial = ueventValue(entry.path(), "HID_UNIQ");
        info.name = ueventValue(entry.path(), "HID_NAME");
        const fs::path driver = fs::read_symlink(entry.path() / "driver", error);
        info.driver = error ? std::string() : driver.filename().string();
        for (const auto& raw : fs::directory_iterator(entry.path() / "hidraw", error)) {
            info.node = raw.path().filename().string();
            info.path = "/dev/" + info.node;
        }
        error.clear();
        if (info.node.empty()) info.node = name;
        found.push_back(std::move(info));
    }
    std::sort(found.begin(), found.end(), [](const DeviceInfo& a, const DeviceInfo& b) {
        return a.node.size() != b.node.size() ? a.node.size() < b.node.size() : a.node < b.node;
    });
    return found;
}

Opened open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return {nullptr, errno, std::strerror(errno)};
    int size = 0;
    hidraw_report_descriptor descriptor{};
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
        const int error = errno;
        ::close(fd);
        return {nullptr, error, error == ENOTTY || error == EINVAL ? "not a hidraw node" : std::strerror(error)};
    }
    descriptor.size = static_cast<std::uint32_t>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
    if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
        const int error = errno;
        ::close(fd);
        return {nullptr, error, std::strerror(error)};
    }
    return {std::make_unique<Hidraw>(fd, numbered(descriptor.value, descriptor.size)), 0, {}};
}

std::string accessFix() {
    return "install px77xx-cli, whose udev rule (60-px77xx-hid.rules) gives the logged-in user these adapters' hidraw "
           "nodes, then plug the adapter in again; or run as root";
}

}  // namespace platform::hid
