// Opens a port backend from a port string, name[:key=value,...]. Nothing touches
// a device here: every backend opens at its first access.
#pragma once

#include "bus/port.h"
#include "ports/options.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace ports {

struct Backend {
    std::string_view name;
    std::string_view usage;        // the port string's form, for --help
    std::string_view description;  // one line, for --help
    std::unique_ptr<bus::Port> (*create)(const Options& options);
    std::string (*label)(const Options& options);  // which port, in a few words: "ppdev /dev/parport0"
};

std::span<const Backend> backends();

// Throws ConfigError, one line naming what is wrong and what is accepted.
std::unique_ptr<bus::Port> openPort(std::string_view spec);

// The port a valid port string stands for, for a window title: "sim",
// "ppdev /dev/parport0", "io 0x378", "lib /opt/port.so".
std::string portLabel(std::string_view spec);

}  // namespace ports
