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

// One port probed as --probe does, in a sentence: "a device answered at
// 0x2c", "no device answered at 0x2c" or "cannot probe: WHY".
std::string probeSentence(const std::string& port, const commands::Descriptor& program, std::uint8_t address);

// Every address from 0x08 to 0x77 asked on one port with a read-back, as
// i2cdetect asks: those that acknowledge are listed. /SHDN is left alone: a
// separate /SHDN line named in the port string is not opened, and a port whose
// data register cannot be read back (so that the frames would drive /SHDN) is
// refused. 0 where any device answered, 1 where none did or the port failed.
int scanPort(const std::string& port, const commands::Descriptor& program, bool json);

// The port string without its shdn= key: the same port, its /SHDN line untouched.
std::string withoutShutdownLine(const std::string& port);

}  // namespace frontend
