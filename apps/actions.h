// pxctl's actions: the window's operator events by the names of its controls,
// parsed before anything touches the port and run in order on one program.
#pragma once

#include "commands/descriptor.h"
#include "commands/program.h"
#include "ports/backend.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace apps {

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

// The action's outcome as one line of JSON: the action, the byte read (or
// null), the frame word and the displays.
std::string jsonLine(const Action& action, const Outcome& outcome, const commands::Program& program);

// A failed action as one line of JSON: the action, what reached the port
// ("failed": "not sent", "read-back failed" or "cut short", with "writes" and
// "of" for the last) and the error.
std::string jsonFailure(const Action& action, const commands::Delivery& delivery, std::string_view error);

// Text as a JSON string, quotes included.
std::string jsonQuoted(std::string_view text);

// Runs actions one after another on one program, printing what they read
// (or, with json, a line per action) to out, and a port failure to err.
class Runner {
public:
    Runner(commands::Program& program, std::ostream& out, std::ostream& err, bool json)
        : program_(program), out_(out), err_(err), json_(json) {}

    // False once the port has failed, or the output could not be written: a
    // port failure is printed, naming the action, what of it reached the port
    // and how many ran before it; no further action should run.
    bool run(const Action& action);
    std::size_t ran() const { return ran_; }

    // The errno of the first write to out that failed (a full disk, a closed
    // descriptor), or 0: what a script reads is part of the result.
    int outputError() const { return outputError_; }

    // Told each action's label before it runs (a trace's action column).
    void setActionListener(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

    // Said after "pxctl: " in every message about an action: "line 3: ".
    void setWhere(std::string where) { where_ = std::move(where); }

    // Where the kernel recovers the bus itself (an I2C adapter): recover says
    // so, naming the port, and sends nothing.
    void setKernelRecovers(std::string port) { kernelRecovers_ = std::move(port); }

    // What the port can tell of itself once open (an I2C adapter's name and
    // path), added to every JSON object as "adapter" and "transfers".
    void setPortDetails(std::function<std::optional<ports::PortDetails>()> details) { details_ = std::move(details); }

private:
    bool flushOutput();
    bool recovered(const Action& action, const bus::Recovery& recovery);

    commands::Program& program_;
    std::ostream& out_;
    std::ostream& err_;
    bool json_;
    std::size_t ran_ = 0;
    int outputError_ = 0;
    std::string kernelRecovers_;
    std::string where_;
    std::function<void(const std::string&)> listener_;
    std::function<std::optional<ports::PortDetails>()> details_;

    std::string withDetails(std::string line) const;
};

// The words of one line of standard input, up to a # (a comment): blank
// lines and comments have none.
std::vector<std::string> splitWords(std::string_view line);

}  // namespace apps
