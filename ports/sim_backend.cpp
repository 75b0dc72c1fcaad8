// The simulated board as a backend: sim[:device=px7702|none][,stuck=N][,nack=N].
#include "ports/backend.h"
#include "sim/board.h"

namespace ports {
namespace {

constexpr Key kSimKeys[] = {
    {"device", "px7702, none", "px7702"},
    {"stuck", "clocks 0..1000: the device holds SDA low from power-up until it has seen that many", "0", 0, 1000},
    {"nack", "2 or 3: the device does not acknowledge that byte of a write", "", 2, 3},
};

Opened makeSim(const Options& options) {
    const std::string device = options.text(kSimKeys[0]);
    if (device != "px7702" && device != "none") options.reject("device", "is not known", kSimKeys[0].accepts);
    const bool present = device == "px7702";
    sim::Faults faults;
    faults.stuckClocks = static_cast<int>(*options.number(kSimKeys[1]));
    faults.nackByte = static_cast<int>(options.number(kSimKeys[2]).value_or(0));
    std::string label = present ? "sim" : "sim (no device)";
    if (faults.stuckClocks > 0) label += " (stuck for " + std::to_string(faults.stuckClocks) + " clocks)";
    if (faults.nackByte > 0) label += " (no acknowledge of byte " + std::to_string(faults.nackByte) + ")";
    auto board = std::make_unique<sim::Board>(present, faults);
    const sim::Board* state = board.get();
    Opened opened{std::move(board), std::move(label)};
    opened.board = state;
    return opened;
}

}  // namespace

const Backend kSimBackend{"sim", "sim[:device=px7702|none][,stuck=N][,nack=N]",
                          "simulated board with a PX7702 on the bus (none: nothing answers; stuck, nack: faults)",
                          kSimKeys, makeSim};

}  // namespace ports
