// Any Linux I2C adapter (/dev/i2c-N) as the programs' bus: the line levels the
// programs drive are decoded into bus transactions, and each one is carried to
// the adapter whole by the kernel. Reads come back on SDA as a device on a
// bit-banged bus would drive them.
#pragma once

#include "bus/line_port.h"
#include "bus/transaction_lines.h"
#include "ports/backend.h"
#include "ports/device_system.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ports {

class I2cLines final : public bus::LineBackend, private bus::TransactionCarrier {
public:
    explicit I2cLines(std::string device, std::unique_ptr<DeviceSystem> system = linuxDeviceSystem());
    ~I2cLines() override;

    void drive(bus::LineLevels levels) override;
    bool sampleSda() override;

    const std::string& device() const { return device_; }

    // Once the adapter is open: its name, and whether frames go as plain I2C
    // transfers or as SMBus ones.
    std::optional<PortDetails> details() const;

private:
    void openAdapter();
    void send(const bus::Transaction& t) override;
    std::uint8_t fetch(std::uint8_t address7) override;
    void transfer(std::uint8_t address, bool read, std::uint8_t* data, std::size_t length);
    void selectAddress(std::uint8_t address);
    [[noreturn]] void fail(const std::string& operation, int error);

    std::string device_;
    std::unique_ptr<DeviceSystem> system_;
    int fd_ = -1;
    unsigned long functions_ = 0;
    int selected_ = -1;  // the address I2C_SLAVE last set, for SMBus
    std::string adapterName_;

    bus::TransactionLines lines_{*this};
};

// The adapter as the programs' port: "i2c /dev/i2c-1" in messages. lines, when
// given, is told the backend behind it.
std::unique_ptr<bus::Port> i2cPort(const std::string& device, std::unique_ptr<DeviceSystem> system = linuxDeviceSystem(),
                                   I2cLines** lines = nullptr);

// The I2C adapters this machine has, as i2cdetect -l lists them: "i2c-1
// (CP2112 SMBus Bridge on hidraw0)", in bus order; from sysfs (root: where to
// look, for tests).
std::vector<std::string> i2cAdapters(const std::string& root = "/sys/bus/i2c/devices");

// The same, with each adapter's bus number, for a list of port strings.
struct I2cAdapter {
    unsigned number;
    std::string text;  // "i2c-1 (CP2112 SMBus Bridge on hidraw0)"
};
std::vector<I2cAdapter> i2cAdapterList(const std::string& root = "/sys/bus/i2c/devices");

}  // namespace ports
