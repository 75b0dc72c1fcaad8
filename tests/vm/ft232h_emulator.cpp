// An FTDI FT232H served from user space with gadgetfs on dummy_hcd, for
// libftdi to open through libusb and the real USB stack in the test VM. libftdi
// knows the chip by bcdDevice 0x0900. Endpoint 0 takes FTDI's vendor requests
// (reset and purges, baud rate, latency timer, bit mode, read pins); the bulk
// OUT endpoint (0x02) takes MPSSE commands, run on the simulated device's
// pins; the bulk IN endpoint (0x81) carries the answers, each packet led by the
// two modem status bytes as the chip sends them. The model answers a poll once
// it has data; a real chip also answers with the status bytes alone when its
// latency timer runs out, which libftdi returns as a read of 0 bytes.
//   ft232h_emulator GADGETFS_DIR LINE_LOG COUNT_FILE [--absent] [--record FILE]
// LINE_LOG: every change of SCL, SDA, /SHDN the pins make, "SCL SDA /SHDN".
// COUNT_FILE: "out=N in=M", the bulk transfers so far, rewritten after each.
// --absent: nothing answers on the bus. --record: every bulk OUT transfer, in
// hex, one a line, for a bare libftdi loop to send again, followed by the
// CLOCK_MONOTONIC microsecond it arrived at, so that a session's pace can be
// read off the chip's side without the programs' start-up in it.
// Wiring: SCL on AD0, SDA on AD1 tied to AD2, /SHDN on AD3.
#include "mpsse_engine.h"
#include "sim/board.h"

#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum : std::uint8_t {
    kReset = 0x00,  // wValue 0: reset; 1, 2: purge a buffer
    kModemControl = 0x01,
    kFlowControl = 0x02,
    kBaudRate = 0x03,
    kSetData = 0x04,
    kSetLatency = 0x09,
    kGetLatency = 0x0A,
    kSetBitMode = 0x0B,  // wValue: mask, mode << 8
    kReadPins = 0x0C,
    kReadEeprom = 0x90,
};
constexpr std::uint8_t kModeMpsse = 0x02;
constexpr std::uint8_t kStatus[2] = {0x32, 0x60};  // modem status, line status: idle, buffers empty

usb_endpoint_descriptor endpoint(std::uint8_t address, std::uint16_t packet) {
    usb_endpoint_descriptor e{};
    e.bLength = USB_DT_ENDPOINT_SIZE;
    e.bDescriptorType = USB_DT_ENDPOINT;
    e.bEndpointAddress = address;
    e.bmAttributes = USB_ENDPOINT_XFER_BULK;
    e.wMaxPacketSize = packet;
    return e;
}

void append(std::vector<std::uint8_t>& out, const void* p, std::size_t n) {
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), bytes, bytes + n);
}

// The tag, the full-speed configuration, the high-speed one, the device: one
// vendor interface with its two bulk endpoints, bus-powered without remote
// wake-up (which gadgetfs refuses).
std::vector<std::uint8_t> descriptors() {
    const usb_interface_descriptor interface{USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_VENDOR_SPEC,
                                             USB_CLASS_VENDOR_SPEC, USB_CLASS_VENDOR_SPEC, 2};
    usb_config_descriptor config{};
    config.bLength = USB_DT_CONFIG_SIZE;
    config.bDescriptorType = USB_DT_CONFIG;
    config.wTotalLength = USB_DT_CONFIG_SIZE + USB_DT_INTERFACE_SIZE + 2 * USB_DT_ENDPOINT_SIZE;
    config.bNumInterfaces = 1;
    config.bConfigurationValue = 1;
    config.bmAttributes = USB_CONFIG_ATT_ONE;
    config.bMaxPower = 45;
    usb_device_descriptor device{};
    device.bLength = USB_DT_DEVICE_SIZE;
    device.bDescriptorType = USB_DT_DEVICE;
    device.bcdUSB = 0x0200;
    device.bMaxPacketSize0 = 64;
    device.idVendor = 0x0403;
    device.idProduct = 0x6014;
    device.bcdDevice = 0x0900;  // FT232H
    device.iManufacturer = 1;
    device.iProduct = 2;
    device.iSerialNumber = 3;
    device.bNumConfigurations = 1;

    std::vector<std::uint8_t> out(4, 0);
    for (const std::uint16_t packet : {std::uint16_t{64}, std::uint16_t{512}}) {
        append(out, &config, USB_DT_CONFIG_SIZE);
        append(out, &interface, USB_DT_INTERFACE_SIZE);
        const auto in = endpoint(USB_DIR_IN | 1, packet);
        const auto outEp = endpoint(USB_DIR_OUT | 2, packet);
        append(out, &in, USB_DT_ENDPOINT_SIZE);
        append(out, &outEp, USB_DT_ENDPOINT_SIZE);
    }
    append(out, &device, USB_DT_DEVICE_SIZE);
    return out;
}

class Ft232h {
public:
    Ft232h(std::string dir, int ep0, FILE* lines, int counts, FILE* record, bool absent)
        : dir_(std::move(dir)), ep0_(ep0), lines_(lines), counts_(counts), record_(record), device_(!absent),
          engine_(device_, {0, 1, 2, 3}, [this](bool scl, bool sda, bool shdn) {
              std::fprintf(lines_, "%d %d %d\n", scl, sda, shdn);
              std::fflush(lines_);
          }) {}

    void setup(const usb_ctrlrequest& request) {
        const bool in = (request.bRequestType & USB_DIR_IN) != 0;
        const std::uint16_t length = request.wLength;
        if ((request.bRequestType & USB_TYPE_MASK) != USB_TYPE_VENDOR) {
            standard(request, in, length);
            return;
        }
        const auto value = static_cast<std::uint8_t>(request.wValue & 0xFF);
        std::lock_guard<std::mutex> lock(mutex_);
        switch (request.bRequest) {
            case kReset:
                if (request.wValue != 0) answers_.clear();  // a purge
                if (!in) return acknowledge();
                break;
            case kModemControl: case kFlowControl: case kBaudRate: case kSetData: case kSetLatency:
                latency_ = request.bRequest == kSetLatency ? value : latency_;
                if (!in) return acknowledge();
                break;
            case kGetLatency:
                if (in) return answer(&latency_, 1, length);
                break;
            case kSetBitMode:
                mpsse_ = (request.wValue >> 8) == kModeMpsse;
                if (!mpsse_) engine_.reset();
                if (!in) return acknowledge();
                break;
            case kReadPins:
                if (in) {
                    std::vector<std::uint8_t> pins;
                    const std::uint8_t read = 0x81;
                    engine_.run(&read, 1, pins);
                    return answer(pins.data(), 1, length);
                }
                break;
            case kReadEeprom:
                if (in) {
                    const std::uint8_t blank[2] = {0xFF, 0xFF};
                    return answer(blank, 2, length);
                }
                break;
        }
        stall(in);
    }

private:
    void standard(const usb_ctrlrequest& request, bool in, std::uint16_t length) {
        if (request.bRequest == USB_REQ_SET_CONFIGURATION && !in) {
            if (!started_) {
                started_ = true;
                std::thread([this] { outLoop(); }).detach();
                std::thread([this] { inLoop(); }).detach();
            }
            return acknowledge();
        }
        if (request.bRequest == USB_REQ_SET_INTERFACE && !in) return acknowledge();
        if (request.bRequest == USB_REQ_GET_DESCRIPTOR && in && (request.wValue >> 8) == USB_DT_STRING) {
            static const char* const strings[] = {nullptr, "FTDI", "FT232H model", "PX000001"};
            const unsigned index = request.wValue & 0xFF;
            std::vector<std::uint8_t> d{4, USB_DT_STRING, 0x09, 0x04};  // index 0: US English
            if (index > 0 && index < 4) {
                d = {0, USB_DT_STRING};
                for (const char* c = strings[index]; *c != '\0'; ++c) d.insert(d.end(), {static_cast<std::uint8_t>(*c), 0});
                d[0] = static_cast<std::uint8_t>(d.size());
            } else if (index != 0) {
                return stall(in);
            }
            return answer(d.data(), d.size(), length);
        }
        stall(in);
    }

    int openEndpoint(const char* name, std::uint8_t address) {
        const std::string path = dir_ + "/" + name;
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            std::perror(("ft232h_emulator: " + path).c_str());
            return -1;
        }
        std::vector<std::uint8_t> config(4, 0);
        config[0] = 1;  // the tag
        const auto full = endpoint(address, 64);
        const auto high = endpoint(address, 512);
        append(config, &full, USB_DT_ENDPOINT_SIZE);
        append(config, &high, USB_DT_ENDPOINT_SIZE);
        if (::write(fd, config.data(), config.size()) < 0) {
            std::perror(("ft232h_emulator: configure " + path).c_str());
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void outLoop() {
        const int fd = openEndpoint("ep2out-bulk", USB_DIR_OUT | 2);
        std::vector<std::uint8_t> buffer(4096);
        while (fd >= 0) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got < 0 && (errno == EINTR || errno == ESHUTDOWN || errno == ECONNRESET)) continue;
            if (got < 0) {
                std::perror("ft232h_emulator: bulk OUT");
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            ++outs_;
            if (record_ != nullptr) {
                for (ssize_t i = 0; i < got; ++i) std::fprintf(record_, "%02x", buffer[static_cast<std::size_t>(i)]);
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                std::fprintf(record_, " %lld\n", static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
                std::fflush(record_);
            }
            if (mpsse_) {
                std::vector<std::uint8_t> answer;
                engine_.run(buffer.data(), static_cast<std::size_t>(got), answer);
                answers_.insert(answers_.end(), answer.begin(), answer.end());
                if (!answers_.empty()) ready_.notify_one();
            }
            count();
        }
    }

    void inLoop() {
        const int fd = openEndpoint("ep1in-bulk", USB_DIR_IN | 1);
        while (fd >= 0) {
            std::vector<std::uint8_t> packet(kStatus, kStatus + 2);
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !answers_.empty(); });
                const std::size_t n = answers_.size() < 510 ? answers_.size() : 510;
                packet.insert(packet.end(), answers_.begin(), answers_.begin() + static_cast<std::ptrdiff_t>(n));
                answers_.erase(answers_.begin(), answers_.begin() + static_cast<std::ptrdiff_t>(n));
            }
            if (::write(fd, packet.data(), packet.size()) < 0 && errno != ESHUTDOWN && errno != ECONNRESET) {
                std::perror("ft232h_emulator: bulk IN");
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            ++ins_;
            count();
        }
    }

    void count() {
        char text[64];
        const int n = std::snprintf(text, sizeof text, "out=%llu in=%llu\n", outs_, ins_);
        if (::pwrite(counts_, text, static_cast<std::size_t>(n), 0) < 0) std::perror("ft232h_emulator: counts");
    }

    void answer(const void* data, std::size_t size, std::uint16_t length) {
        if (::write(ep0_, data, size < length ? size : length) < 0) std::perror("ft232h_emulator: answer");
    }
    void acknowledge() {
        std::uint8_t none = 0;
        if (::read(ep0_, &none, 0) < 0 && errno != EL2HLT) std::perror("ft232h_emulator: acknowledge");
    }
    void stall(bool in) {
        std::uint8_t none = 0;
        const ssize_t result = in ? ::read(ep0_, &none, 0) : ::write(ep0_, &none, 0);
        (void)result;
    }

    std::string dir_;
    int ep0_;
    FILE* lines_;
    int counts_;
    FILE* record_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::uint8_t> answers_;
    sim::Device device_;
    support::MpsseEngine engine_;
    std::uint8_t latency_ = 16;
    bool mpsse_ = false;
    bool started_ = false;
    unsigned long long outs_ = 0;
    unsigned long long ins_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: ft232h_emulator GADGETFS_DIR LINE_LOG COUNT_FILE [--absent] [--record FILE]\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool absent = false;
    FILE* record = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--absent") == 0) absent = true;
        if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc) record = std::fopen(argv[++i], "w");
    }
    FILE* lines = std::fopen(argv[2], "a");
    const int counts = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int fd = ::open((dir + "/dummy_udc").c_str(), O_RDWR | O_CLOEXEC);
    if (lines == nullptr || counts < 0 || fd < 0) {
        std::perror("ft232h_emulator: open");
        return 1;
    }
    const auto config = descriptors();
    if (::write(fd, config.data(), config.size()) < 0) {
        std::perror("ft232h_emulator: descriptors");
        return 1;
    }
    Ft232h chip(dir, fd, lines, counts, record, absent);
    usb_gadgetfs_event events[5];
    for (;;) {
        const ssize_t got = ::read(fd, events, sizeof events);
        // EIDRM: the host gave up a request; EL2HLT: gadgetfs stalled an IN
        // request that was not answered in time. Either way the next event comes.
        if (got < 0 && (errno == EINTR || errno == EIDRM || errno == EAGAIN || errno == EL2HLT)) continue;
        if (got < 0) {
            std::perror("ft232h_emulator: events");
            return 1;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof events[0]; ++i) {
            if (events[i].type == GADGETFS_SETUP) chip.setup(events[i].u.setup);
        }
    }
}
