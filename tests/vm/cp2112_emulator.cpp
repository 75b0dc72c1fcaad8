// A Silicon Labs CP2112 (USB HID to SMBus bridge with 8 GPIO lines), served
// from user space through /dev/uhid, for the real hid-cp2112 driver to bind
// to in the test VM. Its SMBus side has the simulated potentiometer at 0x2c;
// its GPIO lines 0 (SDA), 1 (SCL) and 2 (/SHDN) have another, wired as the
// programs' bus would be, with pull-ups, so that a GPIO backend can bit-bang
// it. Every change of the levels the master drives on those lines is written to
// the log file given, one "SCL SDA /SHDN" line each, for comparison with the
// simulated board's trace.
//   cp2112_emulator [LINE_LOG [ADDRESS]]
// The reports are those the driver exchanges (drivers/hid/hid-cp2112.c).
#include "bus_master.h"
#include "sim/board.h"

#include <linux/uhid.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

enum : std::uint8_t {
    kGpioConfig = 0x02,
    kGpioGet = 0x03,
    kGpioSet = 0x04,
    kVersion = 0x05,
    kSmbusConfig = 0x06,
    kReadRequest = 0x10,
    kWriteReadRequest = 0x11,
    kReadForceSend = 0x12,
    kReadResponse = 0x13,
    kWriteRequest = 0x14,
    kStatusRequest = 0x15,
    kStatusResponse = 0x16,
    kCancel = 0x17,
    kLockByte = 0x20,
    kUsbConfig = 0x21,
    kManufacturer = 0x22,
    kProduct = 0x23,
    kSerial = 0x24,
};

// A vendor-page HID report descriptor declaring each report and its size, so
// that the HID core knows the input reports the driver waits for.
std::vector<std::uint8_t> reportDescriptor() {
    std::vector<std::uint8_t> d{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01};  // vendor page, application
    auto report = [&d](std::uint8_t id, std::uint8_t count, std::uint8_t kind) {
        d.insert(d.end(), {0x85, id, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, count, kind, 0x02});
    };
    constexpr std::uint8_t kFeature = 0xB1, kOutput = 0x91, kInput = 0x81;
    report(kGpioConfig, 4, kFeature);
    report(kGpioGet, 1, kFeature);
    report(kGpioSet, 2, kFeature);
    report(kVersion, 2, kFeature);
    report(kSmbusConfig, 13, kFeature);
    report(kReadRequest, 3, kOutput);
    report(kWriteReadRequest, 20, kOutput);
    report(kReadForceSend, 2, kOutput);
    report(kReadResponse, 63, kInput);
    report(kWriteRequest, 63, kOutput);
    report(kStatusRequest, 1, kOutput);
    report(kStatusResponse, 6, kInput);
    report(kCancel, 1, kOutput);
    report(kLockByte, 1, kFeature);
    report(kUsbConfig, 9, kFeature);
    for (std::uint8_t id : {kManufacturer, kProduct, kSerial}) report(id, 63, kFeature);
    d.push_back(0xC0);
    return d;
}

class Cp2112 {
public:
    Cp2112(int fd, std::FILE* log, std::uint8_t address)
        : fd_(fd), log_(log), smbusDevice_(true, strapped(address)), gpioDevice_(true, strapped(address)) {}

    void output(const std::uint8_t* data, std::size_t size) {
        if (size == 0) return;
        switch (data[0]) {
            case kWriteRequest:
                if (size >= 3) transfer(data[1] >> 1, data + 3, data[2], 0);
                break;
            case kReadRequest:
                if (size >= 4) transfer(data[1] >> 1, nullptr, 0, (data[2] << 8) | data[3]);
                break;
            case kWriteReadRequest:
                if (size >= 5) transfer(data[1] >> 1, data + 5, data[4], (data[2] << 8) | data[3]);
                break;
            case kStatusRequest: {
                const std::uint8_t response[7] = {kStatusResponse, status0_, status1_, 0, 0,
                                                  static_cast<std::uint8_t>(length_ >> 8),
                                                  static_cast<std::uint8_t>(length_)};
                input(response, sizeof response);
                break;
            }
            case kReadForceSend: {
                std::vector<std::uint8_t> response{kReadResponse, 0x02, static_cast<std::uint8_t>(readData_.size())};
                response.insert(response.end(), readData_.begin(), readData_.end());
                readData_.clear();
                input(response.data(), response.size());
                break;
            }
            default: break;  // kCancel: nothing runs long enough to cancel
        }
    }

    // A feature report's contents, report number first; empty where there is none.
    std::vector<std::uint8_t> getReport(std::uint8_t number) {
        switch (number) {
            case kGpioConfig: return {kGpioConfig, direction_, pushPull_, 0x00, 0x00};
            case kGpioGet: return {kGpioGet, levels()};
            case kVersion: return {kVersion, 0x0C, 0x03};  // part number, device version (> 1: write-read)
            case kSmbusConfig: return {kSmbusConfig, 0x00, 0x01, 0x86, 0xA0, 0x02, 0, 0, 0, 0, 0, 0, 0, 1};
            case kLockByte: return {kLockByte, 0xFF};
            case kUsbConfig: return {kUsbConfig, 0xC4, 0x10, 0x90, 0xEA, 50, 0, 1, 0, 0};
            case kManufacturer: return text(number, "px77xx tests");
            case kProduct: return text(number, "CP2112 emulated over uhid");
            case kSerial: return text(number, "0001");
            default: return {};
        }
    }

    void setReport(const std::uint8_t* data, std::size_t size) {
        if (size < 2) return;
        if (data[0] == kGpioConfig && size >= 3) {
            direction_ = data[1];
            pushPull_ = data[2];
        } else if (data[0] == kGpioSet && size >= 3) {
            latch_ = static_cast<std::uint8_t>((latch_ & ~data[2]) | (data[1] & data[2]));
        }
        pinsChanged();
    }

private:
    static std::vector<std::uint8_t> text(std::uint8_t number, const char* s) {
        std::vector<std::uint8_t> report{number, static_cast<std::uint8_t>(2 + 2 * std::strlen(s)), 0x03};
        for (const char* p = s; *p != '\0'; ++p) report.insert(report.end(), {static_cast<std::uint8_t>(*p), 0});
        return report;
    }

    void input(const std::uint8_t* data, std::size_t size) {
        uhid_event ev{};
        ev.type = UHID_INPUT2;
        ev.u.input2.size = static_cast<std::uint16_t>(size);
        std::memcpy(ev.u.input2.data, data, size);
        if (::write(fd_, &ev, sizeof ev) < 0) std::perror("cp2112_emulator: input");
    }

    // One SMBus transaction on the bus behind the bridge: a write, a read, or a
    // write then a read with a repeated start (here: a stop and a start).
    void transfer(int address, const std::uint8_t* data, std::size_t writeLength, int readLength) {
        vm::BusMaster master(smbusDevice_);
        bool acked = true;
        if (writeLength > 0 || readLength == 0) acked = master.write(static_cast<std::uint8_t>(address), data, writeLength);
        if (acked && readLength > 0) {
            const auto bytes = master.read(static_cast<std::uint8_t>(address), static_cast<std::size_t>(readLength));
            acked = bytes.has_value();
            if (acked) readData_ = *bytes;
        }
        // Complete with the length read, or an error whose reason is "timeout, NACK".
        status0_ = acked ? 0x02 : 0x03;
        status1_ = acked ? 0x05 : 0x00;
        length_ = acked ? static_cast<std::uint16_t>(readLength) : 0;
    }

    // A line is driven low only while it is an output at 0; released, the
    // pull-up holds it high (the driver's open-drain emulation switches a line
    // to input to let it go high).
    bool masterLevel(int line) const {
        const bool output = ((direction_ >> line) & 1) != 0;
        return !output || ((latch_ >> line) & 1) != 0;
    }
    std::uint8_t levels() const {
        std::uint8_t value = 0;
        for (int line = 0; line < 8; ++line) {
            const bool high = line == 0 ? gpioDevice_.sda() : masterLevel(line);
            value = static_cast<std::uint8_t>(value | (high ? 1 << line : 0));
        }
        return value;
    }
    void pinsChanged() {
        const bus::LineLevels now(masterLevel(0), masterLevel(1), masterLevel(2));
        if (now == shown_) return;
        shown_ = now;
        gpioDevice_.drive(now);
        if (log_ != nullptr) {
            std::fprintf(log_, "%d %d %d\n", now.scl() ? 1 : 0, now.sda() ? 1 : 0, now.shdn() ? 1 : 0);
            std::fflush(log_);
        }
    }

    int fd_;
    std::FILE* log_;
    static sim::Faults strapped(std::uint8_t address) {
        sim::Faults faults;
        faults.address = address;
        return faults;
    }
    sim::Device smbusDevice_;
    sim::Device gpioDevice_;
    bus::LineLevels shown_{true, true, true};
    std::uint8_t direction_ = 0;  // all inputs at power-up
    std::uint8_t pushPull_ = 0;
    std::uint8_t latch_ = 0xFF;
    std::uint8_t status0_ = 0;
    std::uint8_t status1_ = 0;
    std::uint16_t length_ = 0;
    std::vector<std::uint8_t> readData_;
};

}  // namespace

int main(int argc, char** argv) {
    std::FILE* log = argc > 1 ? std::fopen(argv[1], "w") : nullptr;
    // The devices' address: 0x2c unless a chip strapped to another is wanted.
    const auto address = static_cast<std::uint8_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 0x2c);
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("cp2112_emulator: /dev/uhid");
        return 1;
    }
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(create.u.create2.name), sizeof create.u.create2.name, "CP2112 emulated");
    const auto descriptor = reportDescriptor();
    create.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::memcpy(create.u.create2.rd_data, descriptor.data(), descriptor.size());
    create.u.create2.bus = 0x03;  // BUS_USB
    create.u.create2.vendor = 0x10C4;
    create.u.create2.product = 0xEA90;
    if (::write(fd, &create, sizeof create) < 0) {
        std::perror("cp2112_emulator: UHID_CREATE2");
        return 1;
    }
    Cp2112 bridge(fd, log, address);
    uhid_event ev{};
    for (;;) {
        const ssize_t got = ::read(fd, &ev, sizeof ev);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (ev.type == UHID_OUTPUT) {
            bridge.output(ev.u.output.data, ev.u.output.size);
        } else if (ev.type == UHID_GET_REPORT) {
            const auto report = bridge.getReport(ev.u.get_report.rnum);
            uhid_event reply{};
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = ev.u.get_report.id;
            reply.u.get_report_reply.err = report.empty() ? EIO : 0;
            reply.u.get_report_reply.size = static_cast<std::uint16_t>(report.size());
            std::memcpy(reply.u.get_report_reply.data, report.data(), report.size());
            if (::write(fd, &reply, sizeof reply) < 0) std::perror("cp2112_emulator: get report");
        } else if (ev.type == UHID_SET_REPORT) {
            bridge.setReport(ev.u.set_report.data, ev.u.set_report.size);
            uhid_event reply{};
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = ev.u.set_report.id;
            if (::write(fd, &reply, sizeof reply) < 0) std::perror("cp2112_emulator: set report");
        }
    }
    return 0;
}
