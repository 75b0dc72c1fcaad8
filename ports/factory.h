// Opens a port backend from a port string, name[:key=value,...]. Nothing touches
// a device here: every backend opens at its first access.
#pragma once

#include "bus/port.h"
#include "ports/backend.h"
#include "ports/options.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ports {

class LockPort;
class TracePort;

// The backends this build has, in the order --help lists them.
std::vector<const Backend*> backends();

// The port the programs use when none is given: "ppdev:dev=/dev/parport0".
std::string defaultPort();

// Throws ConfigError, one line naming what is wrong and what is accepted.
Opened openPort(std::string_view spec);

// A port as the programs open it: the backend, wrapped in the recorder when a
// trace file is given (which is opened, and checked, at once).
struct ProgramPort {
    std::unique_ptr<bus::Port> port;
    std::string label;
    const Backend* backend = nullptr;
    TracePort* trace = nullptr;  // owned by port; nullptr without a trace
    LockPort* lock = nullptr;    // owned by port; nullptr where the backend needs none
    std::function<std::optional<PortDetails>()> details;  // empty where the backend tells nothing more
    const sim::Board* board = nullptr;  // the simulated board; nullptr elsewhere

    // The kernel carries whole transactions (an I2C adapter): it checks every
    // acknowledge and recovers the bus itself, so the programs do neither.
    bool carriesTransactions() const { return carries; }
    bool carries = false;

    // Something to tell the operator that is not a port failure: a trace that
    // could not be written, a lock that could not be taken. Each is said once.
    std::optional<std::string> takeNotice();
};
ProgramPort openProgramPort(std::string_view spec, const std::string& tracePath);

}  // namespace ports
