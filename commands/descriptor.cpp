// The two programs' entries and their command tables.
#include "commands/descriptor.h"

#include <array>

namespace commands {
namespace {

// Program B's own command; its program object is always a ProgramB, made by the
// entry below.
void shutdown(Program& p) { static_cast<ProgramB&>(p).cmdSHDN_Click(); }

#define PX_COMMAND(control, handler) Command{#control, [](Program& p) { p.handler(); }}

// The commands both windows have.
#define PX_SHARED_COMMANDS                                                                                  \
    PX_COMMAND(vsbInputCode1, vsbInputCode1_Change), PX_COMMAND(vsbInputCode2, vsbInputCode2_Change),       \
        PX_COMMAND(cmdCh1, cmdCh1_Click), PX_COMMAND(cmdCh2, cmdCh2_Click), PX_COMMAND(cmdZS, cmdZS_Click), \
        PX_COMMAND(cmdMS, cmdMS_Click), PX_COMMAND(cmdFS, cmdFS_Click), PX_COMMAND(cmdRun, cmdRun_Click),   \
        PX_COMMAND(cmdRead, cmdRead_Click), PX_COMMAND(cmdExit, cmdExit_Click)

constexpr std::array kCommandsA{PX_SHARED_COMMANDS};
constexpr std::array kCommandsB{PX_SHARED_COMMANDS, Command{"cmdSHDN", shutdown}};

#undef PX_SHARED_COMMANDS
#undef PX_COMMAND

}  // namespace

const Command* Descriptor::find(std::string_view name) const {
    for (const auto& command : commands) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

const Descriptor kDescriptorA{
    .key = "a",
    .executable = "px7700_02_reva",
    .caption = "PX7700_02_RevA",
    .windowName = "frmPX7700_02_RevA",
    .variant = frame::kProgramA,
    .make = [](bus::Port& port) -> std::unique_ptr<Program> { return std::make_unique<ProgramA>(port); },
    .load = [](Program& p) { static_cast<ProgramA&>(p).Form_Load(); },
    .commands = kCommandsA,
};

const Descriptor kDescriptorB{
    .key = "b",
    .executable = "px7702_reva",
    .caption = "PX7702_RevA",
    .windowName = "Form1",
    .variant = frame::kProgramB,
    .make = [](bus::Port& port) -> std::unique_ptr<Program> { return std::make_unique<ProgramB>(port); },
    .load = nullptr,
    .commands = kCommandsB,
};

std::span<const Descriptor* const> programs() {
    static constexpr std::array<const Descriptor*, 2> kAll{&kDescriptorA, &kDescriptorB};
    return kAll;
}

const Descriptor* findProgram(std::string_view key) {
    for (const Descriptor* d : programs()) {
        if (d->key == key) return d;
    }
    return nullptr;
}

std::string notSent(std::string_view action, std::string_view error) {
    return std::string(action) + ": not sent: " + std::string(error);
}

}  // namespace commands
