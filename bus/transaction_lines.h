// The bus as a device on it sees it, for a backend that carries whole
// transactions (an I2C adapter, a USB bridge's I2C engine): the line changes
// the programs make are decoded into transactions, each handed to a carrier
// whole, and the byte a read fetches is clocked back out on SDA as a device on
// a bit-banged bus would drive it.
#pragma once

#include "bus/assembler.h"
#include "bus/decoder.h"
#include "bus/device_lines.h"

#include <cstdint>

namespace bus {

// What carries the transactions; either may throw PortError.
class TransactionCarrier {
public:
    virtual ~TransactionCarrier() = default;
    // A write transaction with at least one byte after its address.
    virtual void send(const Transaction& t) = 0;
    // One byte read from the device at a 7-bit address.
    virtual std::uint8_t fetch(std::uint8_t address7) = 0;
};

class TransactionLines {
public:
    explicit TransactionLines(TransactionCarrier& carrier) : carrier_(carrier) {}

    // One write of the master's SDA and SCL.
    void drive(bool sda, bool scl);
    // SDA as the wired AND of the master and the stand-in device.
    bool sda() const { return lines_.sda(); }

private:
    TransactionCarrier& carrier_;
    DeviceLines lines_;
    Decoder decoder_;
    TransactionAssembler assembler_;
    bool sending_ = false;  // the byte read is going out on SDA
    int sentBits_ = 0;
    std::uint8_t readByte_ = 0xFF;
};

}  // namespace bus
