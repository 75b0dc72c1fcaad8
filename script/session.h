// A program on its port, opened as every front end opens it: the windows,
// pxctl, pxctl serve and the Python module.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "ports/factory.h"
#include "script/executor.h"

#include <cstdint>
#include <memory>
#include <string>

namespace script {

struct SessionRequest {
    std::string port;   // the port string
    std::string trace;  // the trace file; empty for none
    bool checkAck = false;
    std::uint8_t address = commands::Program::kDefaultAddress;
};

struct Session {
    const commands::Descriptor* descriptor = nullptr;
    SessionRequest request;
    ports::ProgramPort port;
    std::unique_ptr<commands::Program> program;

    // A program on this port as the session made its first: at the device
    // address, checking acknowledges where the port leaves that to it (an I2C
    // adapter's kernel checks for itself), loaded as its window is.
    std::unique_ptr<commands::Program> makeProgram() const;
    // The acknowledge check the program makes.
    bool programChecksAck() const { return request.checkAck && !port.carriesTransactions(); }
    // Tells an executor of the trace (each action's name) and of a kernel that
    // recovers its own bus.
    void attach(Executor& executor) const;
};

// Throws ports::ConfigError for a port string or trace file it cannot use.
// Nothing reaches the device: the port opens at the first action.
Session openSession(const commands::Descriptor& descriptor, SessionRequest request);

}  // namespace script
