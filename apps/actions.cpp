// Parsing and running pxctl's actions.
#include "apps/actions.h"

#include "apps/command_line.h"
#include "controls/controls.h"
#include "ports/options.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ostream>

namespace apps {
namespace {

struct ButtonWord {
    std::string_view word;
    std::string_view command;
};

constexpr std::array<ButtonWord, 8> kButtons{{{"ch1", "cmdCh1"},
                                              {"ch2", "cmdCh2"},
                                              {"zero", "cmdZS"},
                                              {"mid", "cmdMS"},
                                              {"full", "cmdFS"},
                                              {"run", "cmdRun"},
                                              {"read", "cmdRead"},
                                              {"shdn", "cmdSHDN"}}};

constexpr std::string_view kAccepted =
    "actions are ch1, ch2, zero, mid, full, run, read, shdn, get, code1=N, code2=N, bit:K=V, set CH N";

[[noreturn]] void bad(std::string_view word, std::string_view problem) {
    throw UsageError("action '" + ports::printable(word) + "': " + std::string(problem));
}

int number(std::string_view word, std::string_view text, int min, int max, std::string_view what) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
        bad(word, std::string(what) + " must be " + std::to_string(min) + ".." + std::to_string(max));
    }
    return value;
}

}  // namespace

std::vector<Action> parseActions(const std::vector<std::string>& words, const commands::Descriptor& program) {
    std::vector<Action> actions;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        Action action{Action::Kind::Command, std::string(word)};
        if (word == "set") {
            if (i + 2 >= words.size()) bad(word, "needs a channel and a code: set CH N");
            action.kind = Action::Kind::Set;
            action.text = "set " + words[i + 1] + " " + words[i + 2];
            action.channel = number(action.text, words[i + 1], 1, 2, "the channel");
            action.value = number(action.text, words[i + 2], 0, 255, "the code");
            i += 2;
        } else if (word == "get") {
            action.kind = Action::Kind::Get;
        } else if (word.rfind("code", 0) == 0 && word.size() > 6 && word[5] == '=') {
            action.kind = Action::Kind::Code;
            action.channel = number(word, word.substr(4, 1), 1, 2, "the channel");
            action.value = number(word, word.substr(6), 0, 255, "the code");
        } else if (word.rfind("bit:", 0) == 0 && word.find('=') != std::string_view::npos) {
            const auto equals = word.find('=');
            action.kind = Action::Kind::Bit;
            action.index = number(word, word.substr(4, equals - 4), 0, controls::kBitCount - 1, "the bit");
            action.value = number(word, word.substr(equals + 1), 0, 1, "the value");
        } else {
            const ButtonWord* button = nullptr;
            for (const auto& b : kButtons) {
                if (b.word == word) button = &b;
            }
            if (button == nullptr) bad(word, "is not known; " + std::string(kAccepted));
            action.command = program.find(button->command);
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
            (action.channel == 2 ? c.vsbInputCode2 : c.vsbInputCode1).setValue(action.value);
            break;
        case Action::Kind::Bit: c.vsbBit[static_cast<std::size_t>(action.index)].setValue(action.value); break;
        case Action::Kind::Set: {
            // Code entry exactly once: through the bar where that raises its Change,
            // directly where the bar already holds the code.
            auto& bar = action.channel == 2 ? c.vsbInputCode2 : c.vsbInputCode1;
            if (bar.Value() != action.value) {
                bar.setValue(action.value);
            } else if (action.channel == 2) {
                program.vsbInputCode2_Change();
            } else {
                program.vsbInputCode1_Change();
            }
            break;
        }
        case Action::Kind::Get: program.readBack(); break;
    }
    Outcome outcome;
    if (program.readBackCount() != readsBefore) outcome.read = program.lastRead();
    return outcome;
}

std::string jsonLine(const Action& action, const Outcome& outcome, const commands::Program& program) {
    auto quoted = [](std::string_view text) {
        std::string out = "\"";
        for (const char ch : text) {
            const auto byte = static_cast<unsigned char>(ch);
            if (ch == '"' || ch == '\\') {
                out += '\\';
                out += ch;
            } else if (byte < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            } else {
                out += ch;
            }
        }
        return out + "\"";
    };
    const auto& c = program.controls();
    std::string line = "{\"action\":" + quoted(action.text) + ",\"read\":" +
                       (outcome.read ? std::to_string(*outcome.read) : std::string("null")) +
                       ",\"frameWord\":" + std::to_string(program.frameWord()) + ",\"displays\":{";
    const std::array<std::pair<const char*, const controls::TextBox*>, 6> displays{{
        {"txtDisplay1", &c.txtDisplay1},
        {"txtDisplay2", &c.txtDisplay2},
        {"txtCh_Write_Display", &c.txtCh_Write_Display},
        {"txtCh_Read_Display", &c.txtCh_Read_Display},
        {"txtSDA_Write", &c.txtSDA_Write},
        {"txtSDA_Data", &c.txtSDA_Data},
    }};
    for (std::size_t i = 0; i < displays.size(); ++i) {
        line += (i == 0 ? "" : ",") + quoted(displays[i].first) + ":" + quoted(displays[i].second->Text());
    }
    return line + "}}";
}

std::string labelOf(const Action& action) {
    switch (action.kind) {
        case Action::Kind::Command: return std::string(action.command->name);
        case Action::Kind::Code:
        case Action::Kind::Set: return "code" + std::to_string(action.channel) + "=" + std::to_string(action.value);
        case Action::Kind::Bit: return "bit:" + std::to_string(action.index) + "=" + std::to_string(action.value);
        case Action::Kind::Get: return "get";
    }
    return action.text;
}

bool Runner::run(const Action& action) {
    if (listener_) listener_(labelOf(action));
    try {
        const Outcome outcome = runAction(action, program_);
        if (json_) {
            out_ << jsonLine(action, outcome, program_) << '\n';
        } else if (outcome.read) {
            out_ << *outcome.read << '\n';
        }
        out_.flush();
    } catch (const bus::PortError& e) {
        err_ << "pxctl: " << commands::notSent(action.text, e.what()) << " (action " << ran_ + 1 << "; " << ran_
             << " ran before it)" << std::endl;
        return false;
    }
    ++ran_;
    return true;
}

std::vector<std::string> splitWords(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || (words.empty() && line[i] == '#')) break;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

}  // namespace apps
