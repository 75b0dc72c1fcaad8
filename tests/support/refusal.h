// What a bad port string or trace path is refused with: the ConfigError's one
// line, or "accepted" where nothing was refused.
#pragma once

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

}  // namespace testing_support
