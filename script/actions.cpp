// Parsing and running actions.
#include "script/actions.h"

#include "controls/controls.h"
#include "ports/options.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <vector>

namespace script {
namespace {

// Every command any program offers pxctl, once each, in table order.
std::vector<const commands::Command*> offered() {
    std::vector<const commands::Command*> all;
    for (const commands::Descriptor* d : commands::programs()) {
        for (const auto& command : d->commands) {
            if (command.help.empty()) continue;
            bool seen = false;
            for (const auto* c : all) seen = seen || c->word == command.word;
            if (!seen) all.push_back(&command);
        }
    }
    return all;
}

// A scroll bar's command takes a value: code1=N.
bool takesValue(const commands::Command& command) { return controls::controlNamed(command.name, -1).has_value(); }

// "actions are ch1, ch2, ..., get, code1=N, code2=N, bit:K=V, set CH N".
std::string accepted() {
    std::string buttons;
    std::string values;
    for (const auto* command : offered()) {
        std::string& list = takesValue(*command) ? values : buttons;
        list += (list.empty() ? "" : ", ") + std::string(command->word) + (takesValue(*command) ? "=N" : "");
    }
    return "actions are " + buttons + ", " + std::string(commands::kGetWord) + ", " + values + ", " +
           std::string(commands::kExtraActions[0].form) + ", " + std::string(commands::kExtraActions[1].form) + ", " +
           std::string(commands::kRecoverWord);
}

[[noreturn]] void bad(std::string_view word, std::string_view problem) {
    throw UsageError("action '" + ports::printable(word) + "': " + std::string(problem));
}

// Numbers as port strings write them: decimal, or hexadecimal after 0x.
int number(std::string_view word, std::string_view text, int min, int max, std::string_view what) {
    const auto parsed = ports::parseNumber(text, static_cast<std::uint64_t>(min), static_cast<std::uint64_t>(max));
    const std::string range = std::to_string(min) + ".." + std::to_string(max);
    // A negative number is one, out of range; "1e2" or a full-width digit is none.
    const bool negative = text.size() > 1 && text[0] == '-' &&
                          ports::parseNumber(text.substr(1), 0, UINT64_MAX).problem != ports::NumberProblem::NotANumber;
    if (parsed.problem == ports::NumberProblem::NotANumber && !negative) {
        bad(word, std::string(what) + " is not a number; give " + range);
    }
    if (parsed.problem != ports::NumberProblem::None) bad(word, std::string(what) + " must be " + range);
    return static_cast<int>(parsed.value);
}

// The code scroll bar of a channel, as a command.
const commands::Command& codeCommand(const commands::Descriptor& program, int channel) {
    return *program.find(channel == 2 ? "vsbInputCode2" : "vsbInputCode1");
}

}  // namespace

std::vector<Action> parseActions(const std::vector<std::string>& words, const commands::Descriptor& program) {
    std::vector<Action> actions;
    const auto all = offered();
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        Action action{Action::Kind::Command, std::string(word)};
        const auto equals = word.find('=');
        const commands::Command* valued = nullptr;
        for (const auto* c : all) {
            if (takesValue(*c) && equals != std::string_view::npos && word.substr(0, equals) == c->word) valued = c;
        }
        if (word == commands::kSetWord) {
            if (i + 2 >= words.size()) bad(word, "needs a channel and a code: set CH N");
            action.kind = Action::Kind::Set;
            action.text = std::string(word) + " " + words[i + 1] + " " + words[i + 2];
            action.channel = number(action.text, words[i + 1], 1, 2, "the channel");
            action.value = number(action.text, words[i + 2], 0, 255, "the code");
            action.command = &codeCommand(program, action.channel);
            i += 2;
        } else if (word == commands::kGetWord) {
            action.kind = Action::Kind::Get;
        } else if (word == commands::kRecoverWord) {
            action.kind = Action::Kind::Recover;
        } else if (valued != nullptr) {
            action.kind = Action::Kind::Code;
            action.command = program.findWord(valued->word);
            action.channel = action.command == &codeCommand(program, 2) ? 2 : 1;
            action.value = number(word, word.substr(equals + 1), 0, 255, "the code");
        } else if (word.rfind(commands::kBitPrefix, 0) == 0 && equals != std::string_view::npos) {
            const std::size_t from = commands::kBitPrefix.size();
            action.kind = Action::Kind::Bit;
            action.index = number(word, word.substr(from, equals - from), 0, controls::kBitCount - 1, "the bit");
            action.value = number(word, word.substr(equals + 1), 0, 1, "the value");
        } else {
            bool known = false;
            for (const auto* c : all) known = known || (!takesValue(*c) && c->word == word);
            if (!known) bad(word, "is not known; " + accepted());
            action.command = program.findWord(word);
            if (action.command == nullptr) {
                bad(word, "is not a button of program " + std::string(program.key) + " (" + std::string(program.caption) + ")");
            }
        }
        actions.push_back(std::move(action));
    }
    return actions;
}

Outcome runAction(const Action& action, commands::Program& program) {
    const int readsBefore = program.readBackCount();
    auto& c = program.controls();
    switch (action.kind) {
        case Action::Kind::Command: action.command->run(program); break;
        case Action::Kind::Code:
            c.scrollBar(*controls::controlNamed(action.command->name, -1)).setValue(action.value);
            break;
        case Action::Kind::Bit: c.vsbBit[static_cast<std::size_t>(action.index)].setValue(action.value); break;
        case Action::Kind::Set: {
            // Code entry exactly once: through the bar where that raises its Change,
            // directly where the bar already holds the code.
            auto& bar = c.scrollBar(*controls::controlNamed(action.command->name, -1));
            if (bar.Value() != action.value) {
                bar.setValue(action.value);
            } else {
                action.command->run(program);
            }
            break;
        }
        case Action::Kind::Get: program.readBack(); break;
        case Action::Kind::Recover: {
            Outcome outcome;
            outcome.recovery = program.recover();
            return outcome;
        }
    }
    Outcome outcome;
    if (program.readBackCount() != readsBefore) outcome.read = program.lastRead();
    return outcome;
}

std::string labelOf(const Action& action) {
    switch (action.kind) {
        case Action::Kind::Command: return std::string(action.command->word);
        case Action::Kind::Code:
        case Action::Kind::Set: return commands::valueLabel(*action.command, action.value);
        case Action::Kind::Bit: return commands::bitLabel(action.index, action.value);
        case Action::Kind::Get: return std::string(commands::kGetWord);
        case Action::Kind::Recover: return std::string(commands::kRecoverWord);
    }
    return action.text;
}

std::vector<ActionHelp> actionHelpEntries() {
    std::vector<ActionHelp> entries;
    for (const auto* command : offered()) {
        std::string only;
        std::size_t having = 0;
        for (const commands::Descriptor* d : commands::programs()) {
            if (d->findWord(command->word) == nullptr) continue;
            only += (having++ == 0 ? "" : ", ") + std::string(d->key);
        }
        const bool everywhere = having == commands::programs().size();
        // A caption's access-key mark is for the window: "R&un" reads "Run" here.
        std::string help(command->help);
        std::erase(help, '&');
        entries.push_back({std::string(command->word) + (takesValue(*command) ? "=N" : ""),
                           help + (everywhere ? "" : " (program " + only + " only)")});
    }
    for (const auto& extra : commands::kExtraActions) entries.push_back({std::string(extra.form), std::string(extra.help)});
    return entries;
}

std::vector<std::string> splitWords(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') ++i;
        words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

}  // namespace script
