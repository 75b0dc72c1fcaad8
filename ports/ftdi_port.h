// An FTDI USB chip with an MPSSE engine (FT232H, FT2232H, FT4232H) as the bus:
// SDA and SCL on ADBUS pins, set by MPSSE commands queued per transaction, so
// that a whole write frame is one USB write and a read-back one round trip per
// bit sampled.
#pragma once

#include "bus/line_port.h"
#include "ports/mpsse.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ports {

// One FTDI device as the listing shows it.
struct FtdiDevice {
    std::string node;     // "d:001/002"
    std::string path;     // "/dev/bus/usb/001/002", which the user must be able to open
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string chip;     // "FT232H", from bcdDevice
    std::string serial;   // "" where it could not be read
    std::string description;
};

// What opening a device gave.
struct FtdiOpen {
    enum class Kind { Opened, NoMatch, NoPermission, Busy, BadInterface, Failed };
    Kind kind = Kind::Failed;
    FtdiDevice device;    // the one matched (all but NoMatch)
    std::string holder;   // Busy: the kernel driver bound to the interface, "" for another program
    std::string text;     // Failed: libftdi's words
};

// The calls the backend makes of libftdi, so that tests can stand in for the
// adapter. write and read return bytes moved, or < 0 (error() says why).
class FtdiSystem {
public:
    virtual ~FtdiSystem() = default;
    // selector: libftdi's form (i:VID:PID[:INDEX], s:VID:PID:SERIAL, d:BUS/ADDR);
    // interface: 'A'..'D'. Then MPSSE mode, latency timer 1 ms, buffers flushed.
    virtual FtdiOpen open(const std::string& selector, char interface) = 0;
    virtual std::vector<FtdiDevice> devices() = 0;
    virtual int write(const std::uint8_t* data, int size) = 0;
    virtual int read(std::uint8_t* data, int size) = 0;  // may return 0: the chip had nothing yet
    virtual std::string error() = 0;
    virtual void close() = 0;
};

std::unique_ptr<FtdiSystem> libftdiSystem();

struct FtdiWiring {
    std::string selector;  // empty: none named
    char interface = 'A';
    mpsse::Wiring pins;    // driveZero is decided by the chip
};

class FtdiLines final : public bus::LineBackend {
public:
    explicit FtdiLines(FtdiWiring wiring, std::unique_ptr<FtdiSystem> system = libftdiSystem());
    ~FtdiLines() override;

    void drive(bus::LineLevels levels) override;
    bool sampleSda() override;

    std::string label() const { return "ftdi " + wiring_.selector; }

private:
    void claim();
    void send(std::uint64_t unsent);
    void receive(std::uint8_t* data, int size, std::uint64_t unsent);
    [[noreturn]] void fail(const std::string& what, std::uint64_t unsent = 0, int code = EIO) const;

    FtdiWiring wiring_;
    std::unique_ptr<FtdiSystem> system_;
    std::unique_ptr<mpsse::Encoder> encoder_;  // once claimed
    FtdiDevice device_;
    std::uint64_t queuedWrites_ = 0;  // line writes in the queue
};

}  // namespace ports
