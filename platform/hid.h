// USB HID devices through the system's own HID class, with nothing to install:
// hidraw on Linux; on Windows the HID class driver (SetupDi, HidD_*, overlapped
// ReadFile/WriteFile). A report travels with its report number first: 0 for a
// device that numbers none, on both systems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::hid {

struct DeviceInfo {
    std::string path;  // what open() takes: "/dev/hidraw0", a Windows device path; "" where the system offers no
                       // HID node (Linux: a kernel driver holds the device without hidraw)
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string serial;   // the USB serial number; "" where there is none
    std::string name;     // the product string ("CP2112 HID USB-to-SMBus Bridge")
    std::string driver;   // Linux: the kernel's HID driver bound to it ("hid-generic", "cp2112"); "" elsewhere
    std::string node;     // a short name for messages: "hidraw0", "HID device 2"
};

// The HID devices attached with this vendor and product id, in the system's order.
std::vector<DeviceInfo> devices(std::uint16_t vendor, std::uint16_t product);

class Device {
public:
    virtual ~Device() = default;
    // Each returns the bytes moved, report number included, or -errno (EIO,
    // ENODEV for a device unplugged). data[0] is the report number.
    virtual int getFeature(std::uint8_t* data, std::size_t size) = 0;
    virtual int setFeature(const std::uint8_t* data, std::size_t size) = 0;
    virtual int write(const std::uint8_t* data, std::size_t size) = 0;
    // The next input report; 0 where none came within timeoutMs.
    virtual int read(std::uint8_t* data, std::size_t size, int timeoutMs) = 0;
};

struct Opened {
    std::unique_ptr<Device> device;
    int error = 0;     // where device is null: EACCES, EBUSY, ENOENT, ...
    std::string text;  // the system's own words for it
};

Opened open(const std::string& path);

// What to do where open() was refused access (EACCES), in this system's terms.
std::string accessFix();

}  // namespace platform::hid
