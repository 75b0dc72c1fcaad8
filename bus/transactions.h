// Whole bus transactions: the write frame and the read-back. Each one runs to
// its last port access before it returns; none keeps state between calls.
#pragma once

#include "bus/lines.h"
#include "bus/port.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace bus {

// How one program clocks its write frame.
struct FrameFormat {
    int length;  // clocked bits, most significant first
    LineCodes codes;
    // Lines driven after the last bit. Program A stays with SCL high (0x12, 0x13);
    // program B takes both lines low first (0xF0, 0xF2, 0xF3).
    std::array<Lines, 3> closing;
    std::size_t closingLength;
};

inline constexpr FrameFormat kFrameA{26, kCodesA, {{{true, false}, {true, true}, {}}}, 2};
inline constexpr FrameFormat kFrameB{27, kCodesB, {{{false, false}, {true, false}, {true, true}}}, 3};

// Writes in one frame: the start, two a bit, the closing.
constexpr int frameWrites(const FrameFormat& format) {
    return 2 + 2 * format.length + static_cast<int>(format.closingLength);
}
static_assert(frameWrites(kFrameA) == 56 && frameWrites(kFrameB) == 59);

// A slot in which the device should have acknowledged, checked and found high:
// the transaction was ended there with a stop. "no device answered at 0x2c",
// "the device did not acknowledge byte 2 (0x80)". lastByte: the slot after the
// frame's last byte, so that every write went out as it should.
class NoAcknowledge : public PortError {
public:
    // ENXIO, as Linux's I2C drivers report an address nobody answers.
    explicit NoAcknowledge(const std::string& message, bool lastByte = false) : PortError(message, false, lastByte) {
        because(ENXIO);
    }
};

// SDA found low where nobody may hold it: before a start, or through a whole
// byte the master sent as ones. A device is holding the bus; recoverBus frees
// it. Found before the start, nothing of the transaction was sent.
class BusStuck : public PortError {
public:
    BusStuck(bool beforeStart);
};

// Start condition, frame bits length-1 down to 0 (bits above are never sent), closing.
// Each bit puts its level on SDA in the write that takes SCL low and repeats it
// in the write that takes SCL high, so SDA is stable while SCL is high.
// checkedSlots (frame word bits, 0: none) are the device's acknowledge slots to
// check: there the master releases SDA instead of driving the bit, and samples
// it once while SCL is high on that ninth clock; high ends the frame with a
// stop and throws NoAcknowledge. Checking also samples SDA once on the idle
// lines before the start, and once after a byte sent as all ones, where low
// means the bus is stuck (BusStuck), not that the device answered.
void writeFrame(Port& port, const FrameFormat& format, std::uint32_t frameWord, std::uint32_t checkedSlots = 0);

// The nine bits of the read-back's address phase, first sent first: the address
// byte 0x59 and the acknowledge slot, as the read row holds them.
using ReadAddress = std::array<int, 9>;

// The read address byte and the acknowledge slot after it, which the master
// drives low itself.
constexpr ReadAddress readAddressOf(std::uint8_t addressByte) {
    ReadAddress bits{};
    for (int i = 0; i < 8; ++i) bits[static_cast<std::size_t>(i)] = (addressByte >> (7 - i)) & 1;
    return bits;  // bits[8], the acknowledge slot, stays 0
}
inline constexpr ReadAddress kReadBackAddress = readAddressOf(kReadAddressByte);

// The read-back bus phase: start, the nine address bits (the master drives the
// acknowledge slot itself), eight clocks with SDA released and sampled while SCL
// is low, then a ninth clock with SDA low and a stop. Returns the byte read, most
// significant bit first. With checkAck the address's acknowledge slot is
// released and checked instead, and the idle bus before the start, as
// writeFrame does.
int readBack(Port& port, const LineCodes& codes, const ReadAddress& address, bool checkAck = false);

// Freeing a bus a device holds low (a frame cut short mid-read, a cable plugged
// in mid-frame), as the kernel's i2c_generic_scl_recovery does it: release SDA,
// raise SCL and sample SDA; while it stays low, up to kRecoveryClocks clocks;
// then a stop. This wiring has no SCL read-back, so a held SCL goes unseen.
inline constexpr int kRecoveryClocks = 9;
struct Recovery {
    bool free;   // SDA high at the end
    int clocks;  // clocks given
};
Recovery recoverBus(Port& port, const LineCodes& codes);

// Writes in a recovery that needs every clock: SDA released, two a clock, the stop.
inline constexpr int kRecoveryWrites = 1 + 2 * kRecoveryClocks + 3;

// Writes in one read-back: the start, nine address bits, eight clocks, the closing.
inline constexpr int kReadBackWrites = 2 + 2 * 9 + 2 * 8 + 4;

}  // namespace bus
