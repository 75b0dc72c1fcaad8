// The frame writer and the read-back bus phase.
#include "bus/transactions.h"

namespace bus {
namespace {

constexpr Lines kStart{true, false};  // SDA falls while SCL stays high

void clockBit(Port& port, const LineCodes& codes, bool bit) {
    writeLines(port, codes, {false, bit});
    writeLines(port, codes, {true, bit});
}

}  // namespace

void writeFrame(Port& port, const FrameFormat& format, std::uint32_t frameWord) {
    writeLines(port, format.codes, kIdle);
    writeLines(port, format.codes, kStart);
    for (int bit = format.length - 1; bit >= 0; --bit) {
        clockBit(port, format.codes, ((frameWord >> bit) & 1U) != 0);
    }
    for (std::size_t i = 0; i < format.closingLength; ++i) {
        writeLines(port, format.codes, format.closing[i]);
    }
}

int readBack(Port& port, const LineCodes& codes, const ReadAddress& address) {
    writeLines(port, codes, kIdle);
    writeLines(port, codes, kStart);
    for (int bit : address) {
        clockBit(port, codes, bit == 1);
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

}  // namespace bus
