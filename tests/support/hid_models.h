// Models of the two USB HID bridges, report for report: a Silicon Labs CP2112
// (AN495) and a Microchip MCP2221A (its data sheet's 64-byte commands), each
// with the simulated potentiometer on its I2C engine and another on its GPIO
// pins (SDA on pin 0, SCL on pin 1, /SHDN on pin 2, with pull-ups). The unit
// tests reach them through a stand-in HID class, the VM tier through /dev/uhid.
// Reports carry their report number first (0 for the unnumbered MCP2221), and
// input reports go out at the full 64 bytes the chips send.
#pragma once

#include "bus_master.h"
#include "sim/board.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace models {

using Report = std::vector<std::uint8_t>;

class HidModel {
public:
    virtual ~HidModel() = default;
    virtual void output(const std::uint8_t* data, std::size_t size) = 0;
    virtual Report getFeature(std::uint8_t number) = 0;  // empty: no such report
    virtual void setFeature(const std::uint8_t* data, std::size_t size) = 0;

    std::deque<Report> inputs;  // input reports waiting for the host
    // Every change of the levels the host drives on the GPIO bus: SCL, SDA, /SHDN.
    std::function<void(bus::LineLevels)> onPins;
    // The transactions the engine carried, as "w 2c 00 05" or "r 2c 80" / "r 2c nack".
    std::vector<std::string> engineLog;

protected:
    static sim::Faults strapped(std::uint8_t address) {
        sim::Faults faults;
        faults.address = address;
        return faults;
    }
    void send(Report report) {
        // A numbered report is 64 bytes with its number; an unnumbered one 64 after the 0.
        report.resize(report[0] != 0 ? 64 : 65, 0);
        inputs.push_back(std::move(report));
    }
    // Drives the GPIO bus's device where the host's levels changed.
    void pins(bus::LineLevels now) {
        if (now == shown_) return;
        shown_ = now;
        gpioDevice_.drive(now);
        if (onPins) onPins(now);
    }
    static std::string hex(std::uint8_t b) {
        const char* digits = "0123456789abcdef";
        return {digits[b >> 4], digits[b & 15]};
    }
    // One transaction on the engine's bus; false where nobody acknowledged.
    bool engineWrite(std::uint8_t address, const std::uint8_t* data, std::size_t n) {
        vm::BusMaster master(engineDevice_);
        const bool acked = master.write(address, data, n);
        std::string line = "w " + hex(address);
        for (std::size_t i = 0; i < n; ++i) line += " " + hex(data[i]);
        engineLog.push_back(line + (acked ? "" : " nack"));
        return acked;
    }
    std::optional<std::vector<std::uint8_t>> engineRead(std::uint8_t address, std::size_t n) {
        vm::BusMaster master(engineDevice_);
        auto bytes = master.read(address, n);
        std::string line = "r " + hex(address);
        if (bytes) {
            for (std::uint8_t b : *bytes) line += " " + hex(b);
        } else {
            line += " nack";
        }
        engineLog.push_back(line);
        return bytes;
    }

    explicit HidModel(std::uint8_t address) : engineDevice_(true, strapped(address)), gpioDevice_(true, strapped(address)) {}
    sim::Device engineDevice_;
    sim::Device gpioDevice_;
    bus::LineLevels shown_{true, true, true};

public:
    const sim::Device& engineDevice() const { return engineDevice_; }
    const sim::Device& gpioDevice() const { return gpioDevice_; }
};

// The CP2112: numbered reports; GPIO by feature reports 0x02..0x04, SMBus by
// output reports 0x10..0x17 and input reports 0x13 and 0x16.
class Cp2112Model final : public HidModel {
public:
    enum : std::uint8_t {
        kGpioConfig = 0x02, kGpioGet = 0x03, kGpioSet = 0x04, kVersion = 0x05, kSmbusConfig = 0x06,
        kReadRequest = 0x10, kWriteReadRequest = 0x11, kReadForceSend = 0x12, kReadResponse = 0x13,
        kWriteRequest = 0x14, kStatusRequest = 0x15, kStatusResponse = 0x16, kCancel = 0x17,
        kLockByte = 0x20, kUsbConfig = 0x21, kManufacturer = 0x22, kProduct = 0x23, kSerial = 0x24,
    };

    explicit Cp2112Model(std::uint8_t address = 0x2c, std::string serial = "0001")
        : HidModel(address), serial_(std::move(serial)) {}

    std::uint8_t special = 0;  // GPIO special functions: bit 0 GPIO.7 clock, 1 GPIO.0 TX LED, 2 GPIO.1 RX LED
    bool busNotFree = false;   // a transfer ends at once in "bus not free"
    std::uint8_t direction = 0;  // all inputs at power-up
    std::uint8_t pushPull = 0;
    std::uint8_t latch = 0xFF;

    void output(const std::uint8_t* data, std::size_t size) override {
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
                send({kStatusResponse, status0_, status1_, 0, 0, static_cast<std::uint8_t>(length_ >> 8),
                      static_cast<std::uint8_t>(length_)});
                break;
            }
            case kReadForceSend: {
                Report response{kReadResponse, 0x02, static_cast<std::uint8_t>(readData_.size())};
                response.insert(response.end(), readData_.begin(), readData_.end());
                readData_.clear();
                send(response);
                break;
            }
            case kCancel:
                status0_ = 0;
                status1_ = 0;
                break;
            default: break;
        }
    }

    Report getFeature(std::uint8_t number) override {
        switch (number) {
            case kGpioConfig: return {kGpioConfig, direction, pushPull, special, 0x00};
            case kGpioGet: return {kGpioGet, levels()};
            case kVersion: return {kVersion, 0x0C, 0x03};  // part number, device version (> 1: write-read)
            case kSmbusConfig: return {kSmbusConfig, 0x00, 0x01, 0x86, 0xA0, 0x02, 0, 0, 0, 0, 0, 0, 0, 1};
            case kLockByte: return {kLockByte, 0xFF};
            case kUsbConfig: return {kUsbConfig, 0xC4, 0x10, 0x90, 0xEA, 50, 0, 1, 0, 0};
            case kManufacturer: return text(number, "px77xx tests");
            case kProduct: return text(number, "CP2112 emulated over uhid");
            case kSerial: return text(number, serial_.c_str());
            default: return {};
        }
    }

    void setFeature(const std::uint8_t* data, std::size_t size) override {
        if (size < 2) return;
        if (data[0] == kGpioConfig && size >= 4) {
            direction = data[1];
            pushPull = data[2];
            special = data[3];
        } else if (data[0] == kGpioSet && size >= 3) {
            latch = static_cast<std::uint8_t>((latch & ~data[2]) | (data[1] & data[2]));
        }
        pins(bus::LineLevels(masterLevel(0), masterLevel(1), masterLevel(2)));
    }

private:
    static Report text(std::uint8_t number, const char* s) {
        Report report{number, static_cast<std::uint8_t>(2 + 2 * std::strlen(s)), 0x03};
        for (const char* p = s; *p != '\0'; ++p) report.insert(report.end(), {static_cast<std::uint8_t>(*p), 0});
        return report;
    }

    // A write, a read, or a write then a read (here: a stop and a start).
    void transfer(int address, const std::uint8_t* data, std::size_t writeLength, int readLength) {
        bool acked = true;
        if (writeLength > 0 || readLength == 0) acked = engineWrite(static_cast<std::uint8_t>(address), data, writeLength);
        if (acked && readLength > 0) {
            const auto bytes = engineRead(static_cast<std::uint8_t>(address), static_cast<std::size_t>(readLength));
            acked = bytes.has_value();
            if (acked) readData_ = *bytes;
        }
        // Complete with the length read, or an error whose reason is "timeout, NACK".
        status0_ = acked ? 0x02 : 0x03;
        status1_ = acked ? 0x05 : 0x00;
        if (busNotFree) {
            status0_ = 0x03;
            status1_ = 0x01;
        }
        length_ = acked ? static_cast<std::uint16_t>(readLength) : 0;
    }

    // A line is driven low only while it is an output at 0; released, the
    // pull-up holds it high.
    bool masterLevel(int line) const {
        const bool output = ((direction >> line) & 1) != 0;
        return !output || ((latch >> line) & 1) != 0;
    }
    std::uint8_t levels() const {
        std::uint8_t value = 0;
        for (int line = 0; line < 8; ++line) {
            const bool high = line == 0 ? gpioDevice_.sda() : masterLevel(line);
            value = static_cast<std::uint8_t>(value | (high ? 1 << line : 0));
        }
        return value;
    }

    std::string serial_;
    std::uint8_t status0_ = 0;
    std::uint8_t status1_ = 0;
    std::uint16_t length_ = 0;
    std::vector<std::uint8_t> readData_;
};

// The MCP2221A: unnumbered 64-byte commands, each answered by one 64-byte
// input report echoing its command code.
class Mcp2221Model final : public HidModel {
public:
    explicit Mcp2221Model(std::uint8_t address = 0x2c) : HidModel(address) {
        for (auto& gp : gpSettings) gp = 0x08;  // GPIO, input
    }

    // Per pin: bit 4 output value, bit 3 direction (1 = input), bits 2..0 designation (0 = GPIO).
    std::array<std::uint8_t, 4> gpSettings{};
    bool stuckBusy = false;  // the engine never goes idle (until cancelled)
    int busyAfter = -1;      // commands answered before the engine sticks busy

    void output(const std::uint8_t* data, std::size_t size) override {
        // Commands come with their report number (0) from hidraw and Windows,
        // without it from the kernel's own driver.
        if (size > 0 && data[0] == 0) {
            ++data;
            --size;
        }
        std::array<std::uint8_t, 64> c{};
        std::memcpy(c.data(), data, std::min<std::size_t>(size, 64));
        if (busyAfter >= 0 && busyAfter-- == 0) stuckBusy = true;
        Report r(65, 0);  // report number 0, then the 64 bytes
        r[1] = c[0];
        switch (c[0]) {
            case 0x10: status(c, r); break;
            case 0x40: getData(r); break;
            case 0x50: setGpio(c, r); break;
            case 0x51:
                for (std::size_t p = 0; p < 4; ++p) {
                    const bool gpio = (gpSettings[p] & 7) == 0;
                    r[3 + 2 * p] = gpio ? (level(p) ? 1 : 0) : 0xEE;
                    r[4 + 2 * p] = gpio ? ((gpSettings[p] >> 3) & 1) : 0xEF;
                }
                break;
            case 0x60:
                if ((c[7] & 0x80) != 0) {
                    for (std::size_t p = 0; p < 4; ++p) gpSettings[p] = c[8 + p];
                    pinsChanged();
                }
                break;
            case 0x61:
                r[3] = 18;
                r[4] = 4;
                for (std::size_t p = 0; p < 4; ++p) r[1 + 22 + p] = gpSettings[p];
                break;
            case 0xB0:  // read flash data: the chip settings the kernel's driver asks for
                break;
            case 0x90:  // write
            case 0x94:  // write, no stop
                write(c, r);
                break;
            case 0x91:  // read
            case 0x93:  // read, repeated start
                read(c, r);
                break;
            default: r[2] = 0x01; break;
        }
        send(r);
    }
    Report getFeature(std::uint8_t) override { return {}; }
    void setFeature(const std::uint8_t*, std::size_t) override {}

private:
    static constexpr std::uint8_t kAddressNack = 0x25;
    static constexpr std::uint8_t kReadComplete = 0x55;

    bool masterLevel(std::size_t p) const {
        const bool gpio = (gpSettings[p] & 7) == 0;
        const bool output = (gpSettings[p] & 0x08) == 0;
        return !gpio || !output || (gpSettings[p] & 0x10) != 0;
    }
    bool level(std::size_t p) const { return p == 0 ? gpioDevice_.sda() : masterLevel(p); }
    void pinsChanged() { pins(bus::LineLevels(masterLevel(0), masterLevel(1), masterLevel(2))); }

    void status(const std::array<std::uint8_t, 64>& c, Report& r) {
        if (c[2] == 0x10) {
            r[3] = state_ == 0 && !stuckBusy ? 0x11 : 0x10;
            stuckBusy = false;
            state_ = 0;
            nack_ = false;
        }
        if (c[3] == 0x20) r[4] = (state_ == 0 && !stuckBusy) ? 0x20 : 0x21;
        r[5] = c[4];
        r[9] = stuckBusy ? 0x52 : state_;
        r[21] = nack_ ? 0x40 : 0x00;
        r[23] = 1;  // SCL
        r[24] = stuckBusy ? 0 : 1;  // SDA
    }
    void setGpio(const std::array<std::uint8_t, 64>& c, Report& r) {
        for (std::size_t p = 0; p < 4; ++p) {
            const std::size_t at = 2 + 4 * static_cast<std::size_t>(p);
            if ((gpSettings[p] & 7) != 0) {
                for (std::size_t k = 0; k < 4; ++k) r[1 + at + k] = 0xEE;
                continue;
            }
            if (c[at] != 0) gpSettings[p] = static_cast<std::uint8_t>((gpSettings[p] & ~0x10) | (c[at + 1] != 0 ? 0x10 : 0));
            if (c[at + 2] != 0) gpSettings[p] = static_cast<std::uint8_t>((gpSettings[p] & ~0x08) | (c[at + 3] != 0 ? 0x08 : 0));
            for (std::size_t k = 0; k < 4; ++k) r[1 + at + k] = c[at + k];
        }
        pinsChanged();
    }
    void write(const std::array<std::uint8_t, 64>& c, Report& r) {
        if (stuckBusy) {
            r[2] = 0x01;
            return;
        }
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(c[1] | (c[2] << 8)), 60);
        nack_ = !engineWrite(static_cast<std::uint8_t>(c[3] >> 1), c.data() + 4, n);
        state_ = nack_ ? kAddressNack : 0;
    }
    void read(const std::array<std::uint8_t, 64>& c, Report& r) {
        if (stuckBusy) {
            r[2] = 0x01;
            return;
        }
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(c[1] | (c[2] << 8)), 60);
        const auto bytes = engineRead(static_cast<std::uint8_t>(c[3] >> 1), n);
        nack_ = !bytes;
        state_ = nack_ ? kAddressNack : kReadComplete;
        readData_ = bytes.value_or(std::vector<std::uint8_t>{});
    }
    void getData(Report& r) {
        r[3] = state_;
        if (state_ == kReadComplete) {
            r[4] = static_cast<std::uint8_t>(readData_.size());
            std::copy(readData_.begin(), readData_.end(), r.begin() + 5);
            readData_.clear();
            state_ = 0;
        }
    }

    std::uint8_t state_ = 0;
    bool nack_ = false;
    std::vector<std::uint8_t> readData_;
};

}  // namespace models
