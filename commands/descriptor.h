// One entry per program: its names, its frame layout, how to make its program
// object and the table of its operator commands. The windows, pxctl, the tests
// and the benchmarks look a program up here rather than naming its class.
#pragma once

#include "bus/port.h"
#include "commands/program.h"
#include "frame/variant.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace commands {

// One operator command: a button's Click or a code scroll bar's Change, by the
// name of the control that raises it.
struct Command {
    std::string_view name;  // "cmdRun", "cmdSHDN", "vsbInputCode1", ...
    void (*run)(Program&);
};

struct Descriptor {
    std::string_view key;         // pxctl --program
    std::string_view executable;  // "px7702_reva"
    std::string_view caption;     // the window's caption
    std::string_view windowName;  // the window's name, "Form1"
    const frame::Variant& variant;
    std::unique_ptr<Program> (*make)(bus::Port& port);
    void (*load)(Program&);  // the window's Load event; nullptr where it has none
    std::span<const Command> commands;

    // nullptr where this program has no such command.
    const Command* find(std::string_view name) const;
};

extern const Descriptor kDescriptorA;
extern const Descriptor kDescriptorB;

// Every program, A first.
std::span<const Descriptor* const> programs();

// The program with this key, or nullptr.
const Descriptor* findProgram(std::string_view key);

// How the window and pxctl report a port failure that stopped an operator
// action: "cmdRun: not sent: ppdev /dev/parport0: open: ...".
std::string notSent(std::string_view action, std::string_view error);

}  // namespace commands
