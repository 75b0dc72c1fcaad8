// The port interface: the only way the programs reach the parallel port.
// Every line-code write and every SDA sample goes through these two operations.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bus {

// A port access that could not be carried out. The message names the backend,
// the device or address, the operation and the reason.
class PortError : public std::runtime_error {
public:
    // heldBack: none of the transaction under way reached the wires, though the
    // accesses before this one returned; a backend that carries transactions
    // whole (an I2C adapter) says so when sending one fails.
    explicit PortError(const std::string& message, bool heldBack = false)
        : std::runtime_error(message), heldBack_(heldBack) {}
    bool heldBack() const { return heldBack_; }

    // Every write of the transaction reached the wires as it should; what
    // failed is the device's answer (it did not acknowledge the last byte).
    bool whole() const { return whole_; }

    // A backend that queues writes and sends them in batches (a USB adapter):
    // of the writes the port took before this failure, the last `unsent` never
    // reached the wires.
    static PortError withUnsent(const std::string& message, std::uint64_t unsent) {
        PortError error(message);
        error.unsent_ = unsent;
        return error;
    }
    std::uint64_t unsent() const { return unsent_; }

    // The system's error number behind the failure (errno's value: EACCES,
    // EBUSY, ENOENT, ENXIO, EIO ...), 0 where none is; scripting front ends
    // hand it on as their languages do (Python's OSError.errno).
    int code() const { return code_; }
    PortError& because(int code) {
        code_ = code;
        return *this;
    }

protected:
    PortError(const std::string& message, bool heldBack, bool whole)
        : std::runtime_error(message), heldBack_(heldBack), whole_(whole) {}

private:
    bool heldBack_;
    bool whole_ = false;
    std::uint64_t unsent_ = 0;
    int code_ = 0;
};

class Port {
public:
    virtual ~Port() = default;

    // Writes a 16-bit value to an I/O address.
    virtual void OutportW(std::uint16_t port, std::uint16_t value) = 0;

    // Reads a 16-bit value from an I/O address.
    virtual std::uint16_t InportW(std::uint16_t port) = 0;

    // A port stands for one device: it is never copied.
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

protected:
    Port() = default;
};

// The error for an address a backend does not map:
// "<backend>: cannot write 0x37a (only 0x378 is written and 0x379 read)".
PortError badRegister(std::string_view backend, const char* operation, std::uint16_t port);

}  // namespace bus
