// An FTDI USB chip with an MPSSE engine (FT232H, FT2232H, FT4232H) as the bus:
// SDA and SCL on ADBUS pins, set by MPSSE commands queued per transaction, so
// that a whole write frame is one USB write and a read-back one round trip per
// bit sampled. The same on every system; only the driver below differs.
#pragma once

#include "bus/line_port.h"
#include "ports/mpsse.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ports {

// One FTDI device (one interface of a dual or quad chip, where the system
// lists those apart) as the listing shows it.
struct FtdiDevice {
    std::string node;     // where the system has it: "d:001/002" (libftdi), "loc 0x1234" (D2XX)
    std::string path;     // "/dev/bus/usb/001/002", which the user must be able to open; "" where none is
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string chip;     // "FT232H"
    std::string serial;   // "" where it could not be read
    std::string description;
    std::string selector = {};  // what dev= takes to name it; "" where it cannot be named
    char interface = 0;         // where the system lists interfaces apart: the one this is; 0 otherwise
};

// What opening a device gave.
struct FtdiOpen {
    enum class Kind { Opened, NoMatch, NoPermission, Busy, BadInterface, Failed, NoDriver };
    Kind kind = Kind::Failed;
    FtdiDevice device;    // the one matched (all but NoMatch and NoDriver)
    std::string holder;   // Busy: the kernel driver bound to the interface, "" for another program
    std::string text;     // Failed, NoDriver: the driver's words
};

// The calls the backend makes of the system's FTDI driver: libftdi on Linux,
// FTDI's own D2XX on Windows; tests stand in for the adapter. write and read
// return bytes moved, or < 0 (error() says why).
class FtdiSystem {
public:
    virtual ~FtdiSystem() = default;
    // selector: a dev= value this system takes (FtdiSelectorForms); interface:
    // 'A'..'D'. Then MPSSE mode, latency timer 1 ms, buffers flushed.
    virtual FtdiOpen open(const std::string& selector, char interface) = 0;
    virtual std::vector<FtdiDevice> devices() = 0;
    virtual int write(const std::uint8_t* data, int size) = 0;
    virtual int read(std::uint8_t* data, int size) = 0;  // may return 0: the chip had nothing yet
    virtual std::string error() = 0;
    virtual void close() = 0;

    // Whether dev= text is a form this system takes.
    virtual bool validSelector(const std::string& text) const = 0;
    // The driver in a word, for the messages: "libftdi".
    virtual std::string driver() const { return "libftdi"; }
    // The chip a selector asks for, for a message about one that is not there.
    virtual std::string sought(const std::string&) const { return "FTDI device"; }
    // Where the user sees what is attached, for the messages.
    virtual std::string listingHint() const { return "`lsusb` lists USB devices"; }
    // Whether this user may open the device; why not, and the fix, where not.
    virtual bool mayOpen(const FtdiDevice&, std::string&) const { return true; }
    // Why the driver cannot be used at all (not installed), with the fix; "" where it can.
    virtual std::string unavailable() { return {}; }
};

// The system's own: libftdi on Linux, D2XX on Windows.
std::unique_ptr<FtdiSystem> ftdiSystem();

// The texts of the entry that differ with the system's driver: what dev=
// takes, and the entry's line in --help.
extern const char kFtdiSelectorForms[];
extern const char kFtdiDescription[];

// An MPSSE engine on this interface of this chip.
bool ftdiHasMpsse(const std::string& chip, char interface);

struct FtdiWiring {
    std::string selector;  // empty: none named
    char interface = 'A';
    mpsse::Wiring pins;    // driveZero is decided by the chip
};

class FtdiLines final : public bus::LineBackend {
public:
    explicit FtdiLines(FtdiWiring wiring, std::unique_ptr<FtdiSystem> system = ftdiSystem());
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
