// An i2c-tiny-usb adapter served from user space with gadgetfs on dummy_hcd, for
// the real i2c-tiny-usb driver to bind to through the real USB stack in the
// test VM. Behind it, the simulated potentiometer at 0x2c. The adapter speaks
// vendor control requests on endpoint 0 only (drivers/i2c/busses/i2c-tiny-usb.c):
// functionality, bit delay, status, and I2C transfers with begin/end flags.
//   tiny_usb_emulator [GADGETFS_DIR]   (default /dev/gadget)
#include "bus_master.h"
#include "sim/board.h"

#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint8_t kGetFunctionality = 1;
constexpr std::uint8_t kSetDelay = 2;
constexpr std::uint8_t kGetStatus = 3;
constexpr std::uint8_t kI2cIo = 4;  // plus 1 (begin) and 2 (end)
constexpr std::uint8_t kAddressAck = 1;
constexpr std::uint8_t kAddressNak = 2;
constexpr std::uint32_t kFunctionality = 0x00000001 | 0x0EFF0008;  // I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL

// The descriptors gadgetfs takes: a tag, the full-speed configuration, the
// high-speed one, the device. One vendor-specific interface with no endpoints
// but the control one, as the real adapter has.
std::vector<std::uint8_t> descriptors() {
    const usb_interface_descriptor interface{USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 0,
                                             USB_CLASS_VENDOR_SPEC, 0, 0, 0};
    usb_config_descriptor config{};
    config.bLength = USB_DT_CONFIG_SIZE;
    config.bDescriptorType = USB_DT_CONFIG;
    config.wTotalLength = USB_DT_CONFIG_SIZE + USB_DT_INTERFACE_SIZE;
    config.bNumInterfaces = 1;
    config.bConfigurationValue = 1;
    config.bmAttributes = USB_CONFIG_ATT_ONE | USB_CONFIG_ATT_SELFPOWER;
    config.bMaxPower = 1;
    usb_device_descriptor device{};
    device.bLength = USB_DT_DEVICE_SIZE;
    device.bDescriptorType = USB_DT_DEVICE;
    device.bcdUSB = 0x0200;
    device.bMaxPacketSize0 = 64;
    device.idVendor = 0x0403;  // the pair the driver knows the adapter by
    device.idProduct = 0xC631;
    device.bcdDevice = 0x0104;
    device.bNumConfigurations = 1;

    std::vector<std::uint8_t> out(4, 0);  // the tag
    auto append = [&out](const void* p, std::size_t n) {
        const auto* bytes = static_cast<const std::uint8_t*>(p);
        out.insert(out.end(), bytes, bytes + n);
    };
    for (int speed = 0; speed < 2; ++speed) {
        append(&config, USB_DT_CONFIG_SIZE);
        append(&interface, USB_DT_INTERFACE_SIZE);
    }
    append(&device, USB_DT_DEVICE_SIZE);
    return out;
}

class TinyUsb {
public:
    explicit TinyUsb(int fd) : fd_(fd) {}

    void setup(const usb_ctrlrequest& request) {
        const bool in = (request.bRequestType & USB_DIR_IN) != 0;
        const bool vendor = (request.bRequestType & USB_TYPE_MASK) == USB_TYPE_VENDOR;
        const std::uint16_t length = request.wLength;
        if (!vendor) {
            // SET_CONFIGURATION, SET_INTERFACE: acknowledged; anything else stalls.
            const bool known = request.bRequest == USB_REQ_SET_CONFIGURATION || request.bRequest == USB_REQ_SET_INTERFACE;
            if (known && !in) {
                acknowledge();
            } else {
                stall(in);
            }
            return;
        }
        const std::uint8_t command = request.bRequest;
        if (command == kGetFunctionality && in) {
            const std::uint8_t reply[4] = {kFunctionality & 0xFF, (kFunctionality >> 8) & 0xFF,
                                           (kFunctionality >> 16) & 0xFF, (kFunctionality >> 24) & 0xFF};
            answer(reply, sizeof reply, length);
        } else if (command == kSetDelay && !in) {
            receive(length);
        } else if (command == kGetStatus && in) {
            answer(&status_, 1, length);
        } else if ((command & ~3) == kI2cIo) {
            const auto address = static_cast<std::uint8_t>(request.wIndex);
            vm::BusMaster master(device_);
            if (in) {
                const auto bytes = master.read(address, length);
                status_ = bytes ? kAddressAck : kAddressNak;
                const std::vector<std::uint8_t> reply = bytes ? *bytes : std::vector<std::uint8_t>(length, 0xFF);
                answer(reply.data(), reply.size(), length);
            } else {
                const auto data = receive(length);
                if (data.size() != length) {
                    // The host moved on before the data stage was read (gadgetfs
                    // then drops it): the write cannot be made, and says so.
                    std::fprintf(stderr, "tiny_usb_emulator: write to 0x%02x: %zu of %u data bytes read (%s)\n",
                                 address, data.size(), length, std::strerror(errno));
                    status_ = kAddressNak;
                    return;
                }
                status_ = master.write(address, data.data(), data.size()) ? kAddressAck : kAddressNak;
            }
        } else {
            stall(in);
        }
    }

private:
    void answer(const void* data, std::size_t size, std::uint16_t length) {
        if (::write(fd_, data, size < length ? size : length) < 0) std::perror("tiny_usb_emulator: answer");
    }
    std::vector<std::uint8_t> receive(std::uint16_t length) {
        std::vector<std::uint8_t> data(length);
        const ssize_t got = ::read(fd_, data.data(), length);  // with no data, this is the status stage
        data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return data;
    }
    void acknowledge() { receive(0); }
    // The wrong direction's I/O stalls endpoint 0.
    void stall(bool in) {
        std::uint8_t none = 0;
        const ssize_t result = in ? ::read(fd_, &none, 0) : ::write(fd_, &none, 0);
        (void)result;
    }

    int fd_;
    sim::Device device_;
    std::uint8_t status_ = 0;  // idle
};

}  // namespace

int main(int argc, char** argv) {
    // dummy_hcd completes a control OUT transfer as soon as its data stage is
    // in, and the driver's next request (GET_STATUS) makes gadgetfs drop data
    // not yet read. Real adapters hold the status stage until done; here the
    // reader must simply be first: a real-time priority wakes it before the
    // host's driver can send its next request.
    sched_param priority{};
    priority.sched_priority = 10;
    if (::sched_setscheduler(0, SCHED_FIFO, &priority) != 0) std::perror("tiny_usb_emulator: real-time priority");
    const std::string dir = argc > 1 ? argv[1] : "/dev/gadget";
    const std::string controller = dir + "/dummy_udc";
    const int fd = ::open(controller.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror(("tiny_usb_emulator: " + controller).c_str());
        return 1;
    }
    const auto config = descriptors();
    if (::write(fd, config.data(), config.size()) < 0) {
        std::perror("tiny_usb_emulator: descriptors");
        return 1;
    }
    TinyUsb adapter(fd);
    usb_gadgetfs_event events[5];
    for (;;) {
        const ssize_t got = ::read(fd, events, sizeof events);
        // EIDRM: the host gave up a request; EL2HLT: gadgetfs stalled an IN
        // request that was not answered in time. Either way the next event comes.
        if (got < 0 && (errno == EINTR || errno == EIDRM || errno == EAGAIN || errno == EL2HLT)) continue;
        if (got < 0) {
            std::perror("tiny_usb_emulator: events");
            return 1;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof events[0]; ++i) {
            if (events[i].type == GADGETFS_SETUP) adapter.setup(events[i].u.setup);
        }
    }
}
