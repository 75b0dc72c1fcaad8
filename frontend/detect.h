// pxctl detect: what this machine offers as ports, and with --probe whether a
// device answers at the programs' address on the ports named.
#pragma once

#include "commands/descriptor.h"

#include <cstdint>
#include <string>
#include <vector>

namespace frontend {

// The list, one line a port (JSON Lines with json). Returns the exit status.
int listPorts(bool json);

// The ports named, opened at once (a bad port string throws ConfigError before
// any is touched), then each probed with a read-back at address and the
// acknowledge check. 0 where a device answered on every one, 1 otherwise.
int probePorts(const std::vector<std::string>& ports, const commands::Descriptor& program, std::uint8_t address,
               bool json);

}  // namespace frontend
