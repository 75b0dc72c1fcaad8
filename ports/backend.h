// What a port backend is to the rest of the system: one entry, defined at the
// end of the backend's own file, with its name, its help, its keys, how it is
// made and what of it this machine has. The table (backends.cpp) only lists the
// entries, and names the ones a build lacks with the reason.
#pragma once

#include "bus/port.h"
#include "ports/options.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {
class Board;
}

namespace ports {

struct Backend;

// What a backend can tell of the hardware once it is open, for the decoded
// trace's header and pxctl's JSON: the adapter's name and how frames travel.
struct PortDetails {
    std::string adapter;    // "CP2112 SMBus Bridge on hidraw0"
    std::string transfers;  // "plain I2C", "SMBus"
};

// What opening a port string gives: the port, which port it is in a few words
// (the window's title: "ppdev /dev/parport0"), and the entry that made it.
struct Opened {
    std::unique_ptr<bus::Port> port;
    std::string label;
    const Backend* backend = nullptr;
    // Where the kernel claims nothing for us: the name of the lock that keeps a
    // second program off the port ("io-0x378"); empty where none is needed.
    std::string lockKey = {};
    // Where the backend can tell more once open (i2c); empty elsewhere.
    std::function<std::optional<PortDetails>()> details = {};
    // The simulated board, for a front end that shows its state; nullptr elsewhere.
    const sim::Board* board = nullptr;
    // Whole transactions travel (an I2C adapter, a bridge's I2C engine): see
    // Backend::carriesTransactions. The factory sets it for such a backend;
    // one whose mode depends on its keys sets it itself.
    bool carriesTransactions = false;
};

// One port a machine offers, for pxctl detect.
struct DetectedPort {
    std::string kind;         // "parport", "io", "i2c", "gpio", "ftdi", "sim"
    std::string port;         // the port string: "ppdev:dev=/dev/parport0"
    std::string description;  // "parallel port at 0x378 (PCSPP,TRISTATE,EPP)"
    bool usable = true;       // this user may open it
    std::string why = {};     // when not usable: why, and the fix
};

struct Backend {
    std::string_view name;
    std::string_view usage = {};        // the port string's form, for --help
    std::string_view description = {};  // one line, for --help
    std::span<const Key> keys = {};     // every key it takes, and those it refuses with a reason
    // Makes the port from checked keys; touches no device. delay= is applied by
    // the factory, around whatever this returns.
    Opened (*make)(const Options& options) = nullptr;
    // The kernel carries whole transactions (an I2C adapter): it checks every
    // acknowledge and recovers its buses itself.
    bool carriesTransactions = false;
    // What this machine has of it, each with the port string that opens it and
    // whether this user may; found without touching a bus. nullptr: nothing to list.
    std::vector<DetectedPort> (*detect)() = nullptr;
    // Where this build lacks the backend, why ("ftdi is not in this build:
    // libftdi1 was not found"); such an entry has only its name and this.
    std::string_view missing = {};

    bool available() const { return missing.empty(); }
};

// delay=MICROSECONDS, for every backend that bit-bangs at its own pace.
inline constexpr Key kDelayKey{"delay", "microseconds 0..1000000", "0", 0, 1000000};

// Every backend's entry, in the order --help lists them, those this build lacks
// among them.
std::span<const Backend* const> backendTable();

// The entries, each in its backend's file; backends.cpp declares none that this
// build leaves out.
extern const Backend kSimBackend;
extern const Backend kPpdevBackend;
extern const Backend kIoBackend;
extern const Backend kI2cBackend;
extern const Backend kGpioBackend;
extern const Backend kFtdiBackend;
extern const Backend kCp2112Backend;
extern const Backend kMcp2221Backend;
extern const Backend kLibBackend;

}  // namespace ports
