// Decodes a recorded sequence of port accesses into two-wire bus events and
// reports where the sequence breaks the bus rules.
#pragma once

#include "bus/decoder.h"
#include "bus/line_view.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace buscheck {

enum class EventKind : std::uint8_t { Start, RepeatedStart, Stop, Address, Data, Ack, Nack };

struct Event {
    EventKind kind;
    std::uint8_t value = 0;  // Address: the 7-bit address; Data: the byte
    bool read = false;       // Address: the read/write bit
    std::size_t at = 0;      // index of the access that completed it
    friend bool operator==(const Event&, const Event&) = default;
};

std::string describe(const Event& event);  // "start", "address write 0x2c", "data 0x80", "ack"

enum class FindingKind : std::uint8_t {
    SdaChangeInsideByte,  // SDA moved while SCL was high part-way through a byte
    ByteWithoutNinthClock,  // eight bits, then a start or stop instead of the acknowledge clock
    NotIdleAtEnd,  // the sequence ended with SCL or SDA low, or inside a transaction
};

struct Finding {
    FindingKind kind;
    std::size_t at;
    std::string text;
};

class Checker {
public:
    void write(std::uint16_t port, std::uint16_t value);
    void read(std::uint16_t port, std::uint16_t value);
    // The end of a recorded sequence (an operator action): the bus must be idle.
    void finish();

    const std::vector<Event>& events() const { return events_; }
    const std::vector<Finding>& findings() const { return findings_; }
    void clear();

private:
    void condition(const bus::Decoder::Event& e);
    void emit(EventKind kind, std::uint8_t value = 0, bool read = false);
    void find(FindingKind kind, std::string text);

    bus::LineView lines_;
    bus::Decoder decoder_;
    int byteIndex_ = 0;        // the byte being clocked, for findings
    std::size_t index_ = 0;    // accesses seen
    std::vector<Event> events_;
    std::vector<Finding> findings_;
};

}  // namespace buscheck
