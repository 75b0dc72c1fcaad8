// What this machine offers as ports, for `pxctl detect`: what each backend of
// this build finds (parallel ports, I2C adapters, GPIO chips, FTDI chips, the
// simulated board), each with the port string that opens it and whether this
// user may. No bus is touched and no device opened for I/O.
#pragma once

#include "ports/backend.h"

#include <vector>

namespace ports {

std::vector<DetectedPort> detectPorts();

}  // namespace ports
