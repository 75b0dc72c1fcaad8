// The simulated board as a backend:
// sim[:device=px7702|none][,stuck=N][,nack=N][,address=0xNN][,state=FILE].
#include "platform/files.h"
#include "ports/backend.h"
#include "sim/board.h"

#include <cstdio>

namespace ports {
namespace {

constexpr Key kSimKeys[] = {
    {"device", "px7702, none", "px7702"},
    {"stuck", "clocks 0..1000: the device holds SDA low from power-up until it has seen that many", "0", 0, 1000},
    {"nack", "2 or 3: the device does not acknowledge that byte of a write", "", 2, 3},
    {"address", "a 7-bit address 0x08..0x77 the device answers at", "0x2c", 0x08, 0x77},
    {"state", "a file that keeps the board's wipers, channel and shutdown between runs"},
    {"delay", "", "", 0, 0, "the simulated board has no clock of its own"},
};

constexpr std::string_view kStateMagic = "px77xx-sim-state 1";

std::string stateText(const sim::Kept& k) {
    return std::string(kStateMagic) + "\nwiper1 " + std::to_string(k.wipers[0]) + "\nwiper2 " +
           std::to_string(k.wipers[1]) + "\nchannel " + std::to_string(k.selectedChannel) + "\nshutdown " +
           (k.shutdown ? "1" : "0") + "\n";
}

// A state file is under 100 bytes; anything much larger is not one.
constexpr std::size_t kStateLimit = 4096;

std::string stateName(const std::string& path) { return "sim: state=" + printable(path) + ": "; }

// The board a file kept, or nullopt where there is no file yet. A file that is
// not one of ours, is damaged, or is not a regular file is refused and left
// as it is; nothing at the path is waited on or read beyond kStateLimit.
std::optional<sim::Kept> readState(const std::string& path) {
    std::optional<std::string> read;
    try {
        read = platform::readSmallFile(path, kStateLimit);
    } catch (const platform::FileError& e) {
        throw ConfigError(stateName(path) + "cannot use it: " + e.what());
    }
    if (!read) return std::nullopt;
    const std::string& content = *read;
    sim::Kept k{{0, 0}, 0, false};
    int shutdown = -1;
    char magic[32] = {};
    int version = 0;
    const bool parsed =
        std::sscanf(content.c_str(), "%31s %d wiper1 %d wiper2 %d channel %d shutdown %d", magic, &version,
                    &k.wipers[0], &k.wipers[1], &k.selectedChannel, &shutdown) == 6 &&
        content == stateText({k.wipers, k.selectedChannel, shutdown == 1}) && k.wipers[0] >= 0 && k.wipers[0] <= 255 &&
        k.wipers[1] >= 0 && k.wipers[1] <= 255 && (k.selectedChannel == 1 || k.selectedChannel == 2) &&
        (shutdown == 0 || shutdown == 1);
    if (!parsed) {
        const bool ours = content.rfind(std::string(kStateMagic.substr(0, kStateMagic.size() - 1)), 0) == 0;
        throw ConfigError(stateName(path) +
                          (ours ? std::string("damaged (a simulated board's state, but not whole); it is left as "
                                              "it is: remove it to start a fresh board")
                                : std::string("not a simulated board's state file; it is left as it is: name "
                                              "another file")));
    }
    k.shutdown = shutdown == 1;
    return k;
}

// What the file holds after this run's changes since it last looked: each
// field this run changed takes its new value, every other field keeps what
// the file says (another run may have changed it meanwhile).
sim::Kept merged(sim::Kept file, const sim::Kept& before, const sim::Kept& now) {
    for (std::size_t i = 0; i < 2; ++i) {
        if (now.wipers[i] != before.wipers[i]) file.wipers[i] = now.wipers[i];
    }
    if (now.selectedChannel != before.selectedChannel) file.selectedChannel = now.selectedChannel;
    if (now.shutdown != before.shutdown) file.shutdown = now.shutdown;
    return file;
}

// The board, written to its state file whenever what it keeps changes: a
// run that is killed loses nothing it had done. Each change is read, merged
// and written under the file's lock, so that runs at the same time on one
// file lose none of each other's changes; the file is replaced whole, so a
// reader never sees half of one.
class KeptBoard final : public bus::Port {
public:
    KeptBoard(std::unique_ptr<sim::Board> board, std::string path)
        : board_(std::move(board)), path_(std::move(path)), synced_(board_->device().kept()) {}

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        board_->OutportW(port, value);
        const sim::Kept now = board_->device().kept();
        if (now == synced_) return;
        try {
            const platform::FileLock lock(path_);
            const sim::Kept file = readState(path_).value_or(synced_);
            const sim::Kept next = merged(file, synced_, now);
            if (!(next == file)) platform::replaceFile(path_, stateText(next));
            // What other runs changed meanwhile is this board's too from now on.
            if (!(next == now)) board_->device().restore(next);
            synced_ = next;
        } catch (const platform::FileError& e) {
            throw bus::PortError("sim: state " + printable(path_) + ": cannot write it: " + e.what());
        } catch (const ConfigError& e) {
            throw bus::PortError(e.what());
        }
    }
    std::uint16_t InportW(std::uint16_t port) override { return board_->InportW(port); }

private:
    std::unique_ptr<sim::Board> board_;
    std::string path_;
    sim::Kept synced_;  // what the file held when this run last read or wrote it
};

Opened makeSim(const Options& options) {
    const std::string device = options.text(kSimKeys[0]);
    if (device != "px7702" && device != "none") options.reject("device", "is not known", kSimKeys[0].accepts);
    const bool present = device == "px7702";
    sim::Faults faults;
    faults.stuckClocks = static_cast<int>(*options.number(kSimKeys[1]));
    faults.nackByte = static_cast<int>(options.number(kSimKeys[2]).value_or(0));
    faults.address = static_cast<std::uint8_t>(*options.number(kSimKeys[3]));
    std::string label = present ? "sim" : "sim (no device)";
    if (faults.address != sim::Faults{}.address) {
        char text[32];
        std::snprintf(text, sizeof text, " (strapped to 0x%02x)", faults.address);
        label += text;
    }
    if (faults.stuckClocks > 0) label += " (stuck for " + std::to_string(faults.stuckClocks) + " clocks)";
    if (faults.nackByte > 0) label += " (no acknowledge of byte " + std::to_string(faults.nackByte) + ")";
    auto board = std::make_unique<sim::Board>(present, faults);
    const sim::Board* state = board.get();
    std::unique_ptr<bus::Port> port;
    if (const auto path = options.text("state")) {
        if (path->empty()) options.reject("state", "is empty", kSimKeys[4].accepts);
        try {
            const platform::FileLock lock(*path);
            if (const auto kept = readState(*path)) board->restore(*kept);
            // Said now, before anything is sent, rather than at the first change.
            platform::checkReplaceable(*path);
        } catch (const platform::FileError& e) {
            throw ConfigError(stateName(*path) + "cannot keep the board there: " + e.what());
        }
        port = std::make_unique<KeptBoard>(std::move(board), *path);
    } else {
        port = std::move(board);
    }
    Opened opened{std::move(port), std::move(label)};
    opened.board = state;
    return opened;
}

std::vector<DetectedPort> detectSim() {
    return {{"sim", "sim", "the simulated board (a fresh one each run; sim:state=FILE keeps it)"}};
}

}  // namespace

const Backend kSimBackend{"sim", "sim[:device=px7702|none][,stuck=N][,nack=N][,address=0xNN][,state=FILE]",
                          "simulated board with a PX7702 on the bus (none: nothing answers; stuck, nack: faults); "
                          "each run starts a fresh board unless state=FILE keeps it between runs",
                          kSimKeys, makeSim, false, detectSim};

}  // namespace ports
