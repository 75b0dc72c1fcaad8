// The actions of pxctl, its sessions and the Python module: the window's
// operator events by the names of its controls, parsed before anything touches
// the port and run in order on one program.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace script {

// A word that is not an action, or an option that is wrong: one line saying
// what and what is accepted.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};


struct Action {
    enum class Kind : std::uint8_t { Command, Code, Bit, Set, Get, Recover };
    Kind kind;
    std::string text;                          // as the user wrote it, for messages
    const commands::Command* command = nullptr;  // Command; Code and Set: the code scroll bar's
    int channel = 0;                           // Code, Set
    int index = 0;                             // Bit
    int value = 0;                             // Code, Bit, Set
};

// Splits words into actions ("set" takes the two words after it). Throws
// UsageError naming the word and what is accepted.
std::vector<Action> parseActions(const std::vector<std::string>& words, const commands::Descriptor& program);

// The action's name in traces, as the window names the same event: "mid",
// "code2=200" (set too: it is code entry), "bit:3=1", "get".
std::string labelOf(const Action& action);

// Every action pxctl takes, as help lists them: "mid", "\"Mid Scale\": code
// 128 on the selected channel"; a command some program lacks says which have it.
struct ActionHelp {
    std::string form;
    std::string help;
};
std::vector<ActionHelp> actionHelpEntries();

// What one action did: the byte its last read-back read, if it read back; how
// a recovery went.
struct Outcome {
    std::optional<int> read;
    std::optional<bus::Recovery> recovery;
};

// Runs one action as the window would on the same event. A port failure
// unwinds out of it as bus::PortError.
Outcome runAction(const Action& action, commands::Program& program);

// The words of one line of standard input, up to a # (a comment): blank
// lines and comments have none.
std::vector<std::string> splitWords(std::string_view line);

}  // namespace script
