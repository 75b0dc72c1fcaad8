// The backends' names as the factory lists them in its messages, from the
// table itself: what a build leaves out is not named.
#pragma once

#include "ports/factory.h"

#include <string>

namespace testing_support {

inline std::string validBackends() {
    std::string names;
    for (const ports::Backend* backend : ports::backends()) {
        names += (names.empty() ? "" : ", ") + std::string(backend->name);
    }
    return names;
}

}  // namespace testing_support
