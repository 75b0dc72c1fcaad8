// What a bad port string or trace path is refused with: the ConfigError's one
// line, or "accepted" where nothing was refused; and what a port access fails with.
#pragma once

#include "bus/port.h"
#include "ports/options.h"

#include <string>

namespace testing_support {

template <typename Open>
std::string refusal(Open open) {
    try {
        open();
        return "accepted";
    } catch (const ports::ConfigError& e) {
        return e.what();
    }
}

// What a port access fails with: the PortError's message, or "no error".
template <typename Access>
std::string portFailure(Access access) {
    try {
        access();
        return "no error";
    } catch (const bus::PortError& e) {
        return e.what();
    }
}

}  // namespace testing_support
