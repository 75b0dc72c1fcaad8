// One entry per program: its names, its frame layout, how to make its program
// object and the table of its operator commands, each with the word pxctl and
// the traces name it by. The windows, pxctl, the tests and the benchmarks look
// a program up here rather than naming its class.
#pragma once

#include "bus/port.h"
#include "commands/program.h"
#include "frame/variant.h"

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace commands {

// One operator command: a button's Click or a code scroll bar's Change, by the
// name of the control that raises it.
struct Command {
    std::string_view name;  // the control: "cmdMS", "vsbInputCode1"
    std::string_view word;  // pxctl's word and the traces' name: "mid"; a scroll bar's takes "=N"
    std::string_view help;  // one line of pxctl --help; empty: not a pxctl action ("E&xit")
    void (*run)(Program&);
};

struct Descriptor {
    std::string_view key;         // pxctl --program
    std::string_view executable;  // "px7702_reva"
    std::string_view caption;     // the window's caption
    std::string_view windowName;  // the window's name, "Form1"
    std::string_view summary;     // how it differs, in a few words, for --help
    std::string_view purpose;     // what it is for, as its man page's NAME line says
    const frame::Variant& variant;
    std::unique_ptr<Program> (*make)(bus::Port& port);
    void (*load)(Program&);  // the window's Load event; nullptr where it has none
    std::span<const Command> commands;

    // nullptr where this program has no such command.
    const Command* find(std::string_view name) const;
    const Command* findWord(std::string_view word) const;
};

// The commands both programs have, in the order help lists them.
#define PX_COMMAND(control, word, help, handler) \
    ::commands::Command { #control, word, help, [](::commands::Program& p) { p.handler(); } }
inline constexpr std::array kSharedCommands{
    PX_COMMAND(vsbInputCode1, "code1", "the channel 1 code scroll bar moved to N (0..255): its frame at once",
               vsbInputCode1_Change),
    PX_COMMAND(vsbInputCode2, "code2", "the channel 2 code scroll bar moved to N (0..255): its frame at once",
               vsbInputCode2_Change),
    PX_COMMAND(cmdCh1, "ch1", "\"Ch1\": select channel 1 (nothing is sent)", cmdCh1_Click),
    PX_COMMAND(cmdCh2, "ch2", "\"Ch2\": select channel 2 (nothing is sent)", cmdCh2_Click),
    PX_COMMAND(cmdZS, "zero", "\"Zero Scale\": code 0 on the selected channel", cmdZS_Click),
    PX_COMMAND(cmdMS, "mid", "\"Mid Scale\": code 128 on the selected channel", cmdMS_Click),
    PX_COMMAND(cmdFS, "full", "\"Full Scale\": code 255 on the selected channel", cmdFS_Click),
    PX_COMMAND(cmdRun, "run", "\"R&un\": send the bit panel's frame", cmdRun_Click),
    PX_COMMAND(cmdRead, "read", "\"&Read\": read the wiper back (program b sends the panel's frame first)",
               cmdRead_Click),
    PX_COMMAND(cmdExit, "exit", "", cmdExit_Click),
};
#undef PX_COMMAND

// A program's table: the shared commands, then its own.
template <std::size_t N>
constexpr std::array<Command, kSharedCommands.size() + N> withOwnCommands(const std::array<Command, N>& own) {
    std::array<Command, kSharedCommands.size() + N> all{};
    for (std::size_t i = 0; i < kSharedCommands.size(); ++i) all[i] = kSharedCommands[i];
    for (std::size_t i = 0; i < N; ++i) all[kSharedCommands.size() + i] = own[i];
    return all;
}

// Each in its program's file.
extern const Descriptor kDescriptorA;
extern const Descriptor kDescriptorB;

// Every program, A first.
std::span<const Descriptor* const> programs();

// The program with this key, or nullptr.
const Descriptor* findProgram(std::string_view key);

// The keys, for messages and help: "a or b", "a|b".
std::string programKeys(std::string_view separator, std::string_view last);

// How the traces and pxctl name an action: "mid", "code1=200", "bit:3=1", "get".
std::string valueLabel(const Command& command, int value);
std::string bitLabel(int index, int value);

// How the window's failure dialog names the same event, as the operator sees
// the control: "the channel 1 code bar, at 1", "the bit 3 bar, at 1".
std::string valueCaption(const Command& command, int value);
std::string bitCaption(int index, int value);

// A command's help line in its two parts: "\"Mid Scale\": code 128 on the
// selected channel" is the caption "Mid Scale" (without its access key's &) and
// the text after it; a line that names no caption is all text.
struct HelpParts {
    std::string caption;
    std::string text;
};
HelpParts helpParts(std::string_view help);

// pxctl's actions that are not a window's command, with their help lines.
struct ExtraAction {
    std::string_view form;  // as --help shows it
    std::string_view help;
};
inline constexpr std::string_view kGetWord = "get";
inline constexpr std::string_view kRecoverWord = "recover";
inline constexpr std::string_view kSetWord = "set";
inline constexpr std::string_view kBitPrefix = "bit:";
inline constexpr std::array kExtraActions{
    ExtraAction{"bit:K=V", "bit panel position K (0..44) set to V (0 or 1)"},
    ExtraAction{"set CH N", "channel CH (1 or 2) to code N: one frame, even where the bar holds N"},
    ExtraAction{"get", "the read-back alone, without writing a frame first"},
    ExtraAction{"recover", "free a bus a device holds low: up to nine clocks, then a stop (a held SCL goes unseen: "
                           "this wiring cannot read SCL back)"},
};

// How pxctl reports a port failure that stopped an operator action, with what
// of it reached the port: "run: not sent: ppdev /dev/parport0: open: ...".
std::string failureReport(std::string_view action, const Delivery& delivery, std::string_view error);

}  // namespace commands
