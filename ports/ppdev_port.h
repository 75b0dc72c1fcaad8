// Linux ppdev: the parallel port through /dev/parportN, claimed exclusively at
// the first access and released when the port object goes.
#pragma once

#include "bus/port.h"
#include "ports/device_system.h"
#include "ports/spacing.h"

#include <memory>
#include <string>

namespace ports {

using PpdevSystem = DeviceSystem;

class PpdevPort final : public bus::Port {
public:
    PpdevPort(std::string device, Spacing spacing, std::unique_ptr<PpdevSystem> system = linuxDeviceSystem());
    ~PpdevPort() override;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    bool claimed() const { return fd_ >= 0; }

private:
    void claim();
    [[noreturn]] void fail(const char* operation, int error) const;

    std::string device_;
    Spacing spacing_;
    std::unique_ptr<PpdevSystem> system_;
    int fd_ = -1;
};

}  // namespace ports
