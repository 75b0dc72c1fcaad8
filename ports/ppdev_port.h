// Linux ppdev: the parallel port through /dev/parportN, claimed exclusively at
// the first access and released when the port object goes.
#pragma once

#include "bus/port.h"
#include "ports/device_system.h"

#include <memory>
#include <string>
#include <vector>

namespace ports {

// A parallel port as Linux lists it: /dev/parportN with what procfs tells.
struct ParallelPort {
    std::string name;     // "parport0"
    unsigned base = 0;    // its registers' base address; 0 where procfs gives none
    std::string modes;    // "PCSPP,TRISTATE,EPP"
    std::string description() const;  // "parallel port at 0x378 (PCSPP,TRISTATE,EPP)"
};
std::vector<ParallelPort> parallelPorts();

class PpdevPort final : public bus::Port {
public:
    explicit PpdevPort(std::string device, std::unique_ptr<DeviceSystem> system = linuxDeviceSystem());
    ~PpdevPort() override;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    bool claimed() const { return fd_ >= 0; }

private:
    void claim();
    [[noreturn]] void fail(const char* operation, int error) const;

    std::string device_;
    std::unique_ptr<DeviceSystem> system_;
    int fd_ = -1;
};

}  // namespace ports
