// The simulated board as a backend: sim[:device=px7702|none].
#include "ports/backend.h"
#include "sim/board.h"

namespace ports {
namespace {

constexpr Key kSimKeys[] = {{"device", "px7702, none", "px7702"}};

Opened makeSim(const Options& options) {
    const std::string device = options.text(kSimKeys[0]);
    if (device != "px7702" && device != "none") options.reject("device", "is not known", kSimKeys[0].accepts);
    const bool present = device == "px7702";
    return {std::make_unique<sim::Board>(present), present ? "sim" : "sim (no device)"};
}

}  // namespace

const Backend kSimBackend{"sim", "sim[:device=px7702|none]",
                          "simulated board with a PX7702 on the bus (none: nothing answers)", kSimKeys, makeSim};

}  // namespace ports
