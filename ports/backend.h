// What a port backend is to the rest of the system: one entry, defined at the
// end of the backend's own file, with its name, its help, its keys and how it
// is made. The factory's table only lists the entries.
#pragma once

#include "bus/port.h"
#include "ports/options.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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
};

struct Backend {
    std::string_view name;
    std::string_view usage;        // the port string's form, for --help
    std::string_view description;  // one line, for --help
    std::span<const Key> keys;     // every key it takes, and those it refuses with a reason
    // Makes the port from checked keys; touches no device. delay= is applied by
    // the factory, around whatever this returns.
    Opened (*make)(const Options& options);
    // The kernel carries whole transactions (an I2C adapter): it checks every
    // acknowledge and recovers its buses itself.
    bool carriesTransactions = false;
};

// delay=MICROSECONDS, for every backend that bit-bangs at its own pace.
inline constexpr Key kDelayKey{"delay", "microseconds 0..1000000", "0", 0, 1000000};

// The entries this build has, in the order --help lists them: the table of
// the system the build is for.
std::span<const Backend* const> platformBackends();

// The entries, each in its backend's file.
extern const Backend kSimBackend;
extern const Backend kPpdevBackend;
extern const Backend kIoBackend;
extern const Backend kI2cBackend;
extern const Backend kGpioBackend;
extern const Backend kFtdiBackend;
extern const Backend kLibBackend;

}  // namespace ports
