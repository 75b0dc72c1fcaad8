// Any Linux I2C adapter (/dev/i2c-N) as the programs' port: the line levels the
// programs write are decoded into bus transactions, and each one is carried to
// the adapter whole by the kernel. Reads come back on status bit 3 as a device
// on a bit-banged bus would drive them.
#pragma once

#include "bus/decoder.h"
#include "bus/device_lines.h"
#include "bus/port.h"
#include "ports/device_system.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ports {

using I2cSystem = DeviceSystem;

class I2cPort final : public bus::Port {
public:
    explicit I2cPort(std::string device, std::unique_ptr<I2cSystem> system = linuxDeviceSystem());
    ~I2cPort() override;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

private:
    void openAdapter();
    void endTransaction();  // sends a write transaction, then forgets it
    void transfer(bool read, std::uint8_t* data, std::size_t length);
    void selectAddress(std::uint8_t address);
    [[noreturn]] void fail(const std::string& operation, int error);

    std::string device_;
    std::unique_ptr<I2cSystem> system_;
    int fd_ = -1;
    unsigned long functions_ = 0;
    int selected_ = -1;  // the address I2C_SLAVE last set, for SMBus

    // The lines: the master's D0 and D1, and the answer a device gives on SDA.
    bus::DeviceLines lines_;
    bus::Decoder decoder_;

    // The transaction in progress.
    bool haveAddress_ = false;
    std::uint8_t addressByte_ = 0;
    std::array<std::uint8_t, 32> bytes_{};
    std::size_t byteCount_ = 0;
    bool sending_ = false;  // the byte read is going out on SDA
    int sentBits_ = 0;
    std::uint8_t readByte_ = 0xFF;
};

}  // namespace ports
