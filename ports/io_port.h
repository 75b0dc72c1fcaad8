// Direct port I/O on x86 Linux through ioperm: 0x378 and 0x379 map to base and
// base+1, so cards at other addresses work too.
#pragma once

#include "bus/port.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ports {

// The privileged operations, so that tests can stand in for them.
class IoSystem {
public:
    virtual ~IoSystem() = default;
    virtual int ioperm(unsigned long from, unsigned long count, bool enable) = 0;  // 0 or -errno
    virtual void outb(std::uint8_t value, std::uint16_t port) = 0;
    virtual std::uint8_t inb(std::uint16_t port) = 0;
};

// The real instructions; nullptr where the processor has no I/O ports.
std::unique_ptr<IoSystem> x86IoSystem();

class IoPort final : public bus::Port {
public:
    explicit IoPort(std::uint16_t base, std::unique_ptr<IoSystem> system = x86IoSystem());
    ~IoPort() override;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    // "io 0x378": the base that 0x378 maps to.
    std::string label() const;

private:
    void enable();
    std::uint16_t base_;
    std::unique_ptr<IoSystem> system_;
    bool enabled_ = false;
};

}  // namespace ports
