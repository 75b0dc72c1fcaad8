// What this machine offers as ports, for `pxctl detect`: parallel ports, I2C
// adapters, GPIO chips, FTDI chips and the simulated board, each with the port
// string that opens it and whether this user may. Found in /dev, /sys and
// /proc; no bus is touched and no device opened for I/O.
#pragma once

#include <string>
#include <vector>

namespace ports {

struct DetectedPort {
    std::string kind;         // "parport", "io", "i2c", "gpio", "ftdi", "sim"
    std::string port;         // the port string: "ppdev:dev=/dev/parport0"
    std::string description;  // "parallel port at 0x378 (PCSPP,TRISTATE,EPP)"
    bool usable = true;       // this user may open it
    std::string why = {};     // when not usable: why, and the fix
};

std::vector<DetectedPort> detectPorts();

}  // namespace ports
