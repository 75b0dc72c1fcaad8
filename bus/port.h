// The port interface: the only way the programs reach the parallel port.
// Every line-code write and every SDA sample goes through these two operations.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace bus {

// A port access that could not be carried out. The message names the backend,
// the device or address, the operation and the reason.
class PortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Port {
public:
    virtual ~Port() = default;

    // Writes a 16-bit value to an I/O address.
    virtual void OutportW(std::uint16_t port, std::uint16_t value) = 0;

    // Reads a 16-bit value from an I/O address.
    virtual std::uint16_t InportW(std::uint16_t port) = 0;

protected:
    Port() = default;
    Port(const Port&) = default;
    Port& operator=(const Port&) = default;
};

}  // namespace bus
