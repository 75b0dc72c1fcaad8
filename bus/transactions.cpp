// The frame writer and the read-back bus phase.
#include "bus/transactions.h"

#include <cstdio>

namespace bus {
namespace {

constexpr Lines kStart{true, false};  // SDA falls while SCL stays high

void clockBit(Port& port, const LineCodes& codes, bool bit) {
    writeLines(port, codes, {false, bit});
    writeLines(port, codes, {true, bit});
}

// One clock with SDA released, sampled once while SCL is high: whether SDA
// stayed high (nobody held it low).
bool releasedClock(Port& port, const LineCodes& codes) {
    writeLines(port, codes, {false, true});
    writeLines(port, codes, kIdle);
    return sampleSda(port) != 0;
}

void stop(Port& port, const LineCodes& codes) {
    writeLines(port, codes, {false, false});
    writeLines(port, codes, {true, false});
    writeLines(port, codes, kIdle);  // SDA rises while SCL is high
}

// The bytes clocked so far, for the message about an acknowledge that did not come.
struct Bytes {
    int count = 0;  // complete bytes
    int bits = 0;
    std::uint8_t last = 0;
    std::uint8_t first = 0;
    void add(bool bit) {
        last = static_cast<std::uint8_t>((last << 1) | (bit ? 1 : 0));
        if (++bits % 8 != 0) return;
        if (++count == 1) first = last;
    }
};

// The idle bus before a start: SDA must be high, or a device holds it.
void checkIdle(Port& port) {
    if (sampleSda(port) == 0) throw BusStuck(true);
}

// The device's acknowledge slot: the ninth clock with SDA released (the device
// holds its answer for the whole clock). A byte sent as all ones left SDA
// released through it; low there is a bus held down, which would read as an
// acknowledge.
void checkAcknowledge(Port& port, const LineCodes& codes, const Bytes& bytes, bool lastByte) {
    if (bytes.last == 0xFF && sampleSda(port) == 0) {
        stop(port, codes);
        throw BusStuck(false);
    }
    if (!releasedClock(port, codes)) return;
    stop(port, codes);
    char text[64];
    if (bytes.count <= 1) {
        std::snprintf(text, sizeof text, "no device answered at 0x%02x", bytes.first >> 1);
    } else if (lastByte) {
        std::snprintf(text, sizeof text, "the device did not acknowledge the last byte (0x%02x)", bytes.last);
    } else {
        std::snprintf(text, sizeof text, "the device did not acknowledge byte %d (0x%02x)", bytes.count, bytes.last);
    }
    throw NoAcknowledge(text, lastByte && bytes.count > 1);
}

}  // namespace

BusStuck::BusStuck(bool beforeStart)
    : PortError("the bus is stuck (SDA held low); try 'pxctl recover'", beforeStart) {
    because(EIO);
}

namespace {

bool lastSlot(const FrameFormat& format, int bit) {
    // The slot is the frame's last clock and its closing is a plain stop, so
    // the stop after a missing acknowledge sends what the frame would have.
    if (bit != 0 || format.closingLength != 3) return false;
    return format.closing[0] == Lines{false, false} && format.closing[1] == Lines{true, false} &&
           format.closing[2] == kIdle;
}

}  // namespace

void writeFrame(Port& port, const FrameFormat& format, std::uint32_t frameWord, std::uint32_t checkedSlots) {
    writeLines(port, format.codes, kIdle);
    if (checkedSlots != 0) checkIdle(port);
    writeLines(port, format.codes, kStart);
    if (checkedSlots == 0) {
        for (int bit = format.length - 1; bit >= 0; --bit) clockBit(port, format.codes, ((frameWord >> bit) & 1U) != 0);
    } else {
        Bytes bytes;
        for (int bit = format.length - 1; bit >= 0; --bit) {
            if (((checkedSlots >> bit) & 1U) != 0) {
                checkAcknowledge(port, format.codes, bytes, lastSlot(format, bit));
                continue;
            }
            const bool level = ((frameWord >> bit) & 1U) != 0;
            clockBit(port, format.codes, level);
            bytes.add(level);
        }
    }
    for (std::size_t i = 0; i < format.closingLength; ++i) {
        writeLines(port, format.codes, format.closing[i]);
    }
}

int readBack(Port& port, const LineCodes& codes, const ReadAddress& address, bool checkAck) {
    writeLines(port, codes, kIdle);
    if (checkAck) checkIdle(port);
    writeLines(port, codes, kStart);
    if (!checkAck) {
        for (int bit : address) clockBit(port, codes, bit == 1);
    } else {
        Bytes bytes;
        for (std::size_t i = 0; i + 1 < address.size(); ++i) {
            clockBit(port, codes, address[i] == 1);
            bytes.add(address[i] == 1);
        }
        checkAcknowledge(port, codes, bytes, false);  // the slot after the address byte
    }
    int value = 0;
    for (int i = 0; i < 8; ++i) {
        writeLines(port, codes, {false, true});  // SCL low, SDA released to the device
        // Sampled while SCL is low: the device changes its output right after
        // SCL falls, so the level is settled by now and stays until the next fall.
        value = value * 2 + sampleSda(port);
        writeLines(port, codes, kIdle);
    }
    writeLines(port, codes, kIdle);
    writeLines(port, codes, {false, false});
    writeLines(port, codes, {true, false});  // ninth clock, SDA low
    writeLines(port, codes, kIdle);          // stop
    return value;
}

Recovery recoverBus(Port& port, const LineCodes& codes) {
    writeLines(port, codes, kIdle);
    Recovery recovery{sampleSda(port) != 0, 0};
    while (!recovery.free && recovery.clocks < kRecoveryClocks) {
        recovery.free = releasedClock(port, codes);
        ++recovery.clocks;
    }
    stop(port, codes);
    return recovery;
}

}  // namespace bus
