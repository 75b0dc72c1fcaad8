#include "frontend/command_line.h"

#include "ports/factory.h"
#include "ports/options.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace frontend {
namespace {

// QApplication's own options, taken with one leading dash or two.
constexpr std::array<std::string_view, 11> kQtOptionsWithValue{
    "platform", "platformpluginpath", "platformtheme", "plugin", "display", "style",
    "stylesheet", "qwindowgeometry", "qwindowtitle", "qwindowicon", "session"};
constexpr std::array<std::string_view, 6> kQtFlags{"reverse", "widgetcount", "nograb", "dograb", "sync",
                                                   "qmljsdebugger"};

enum class QtOption { None, Flag, WithValue };

// Whether an argument is one of QApplication's own options, and whether it takes
// the next argument as its value.
QtOption qtOption(std::string_view argument) {
    if (argument.size() < 2 || argument[0] != '-') return QtOption::None;
    argument.remove_prefix(argument[1] == '-' ? 2 : 1);
    if (std::find(kQtOptionsWithValue.begin(), kQtOptionsWithValue.end(), argument) != kQtOptionsWithValue.end()) {
        return QtOption::WithValue;
    }
    return std::find(kQtFlags.begin(), kQtFlags.end(), argument) != kQtFlags.end() ? QtOption::Flag : QtOption::None;
}

}  // namespace

std::string addressText(std::uint8_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", address);
    return text;
}

std::string addressNote(std::uint8_t address) { return address == 0x2c ? std::string() : addressText(address); }

std::string portTitle(const std::string& label, std::uint8_t address) {
    const std::string note = addressNote(address);
    return note.empty() ? label : label + ", device at " + note;
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments, Front front) {
    CommandLine line;
    const bool window = front == Front::Window;
    std::vector<std::string> given;  // the options that take a value, as met
    std::string address;
    std::string clients;
    std::string idle;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string* target = nullptr;
        if (argument == "--") {
            // The rest are actions, whatever they look like.
            for (++i; i < arguments.size(); ++i) {
                if (window) throw UsageError("unexpected argument '" + ports::printable(arguments[i]) + "'; see --help");
                line.actions.push_back(arguments[i]);
            }
            break;
        }
        std::string option = argument;
        std::string value;
        bool hasValue = false;
        if (const auto equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            option = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        if (option == "--port") {
            target = &line.port;
        } else if (option == "--trace") {
            target = &line.trace;
        } else if (!window && option == "--program") {
            target = &line.program;
        } else if (!window && option == "--listen") {
            target = &line.listen;
        } else if (!window && option == "--vxi11") {
            target = &line.vxi11;
        } else if (!window && option == "--clients") {
            target = &clients;
        } else if (!window && option == "--idle-timeout") {
            target = &idle;
        } else if (option == "--address") {
            target = &address;
        } else if (argument == "--help" || argument == "-h") {
            line.help = true;
            continue;
        } else if (argument == "--version" || argument == "-V") {
            line.version = true;
            continue;
        } else if (window && argument == "--choose-port") {
            line.choosePort = true;
            continue;
        } else if (window && argument == "--exit-when-shown") {
            line.exitWhenShown = true;
            continue;
        } else if (!window && argument == "--json") {
            line.json = true;
            continue;
        } else if (!window && argument == "--keep-going") {
            line.keepGoing = true;
            continue;
        } else if (!window && argument == "--probe") {
            line.probe = true;
            continue;
        } else if (!window && argument == "--scan") {
            line.scan = true;
            continue;
        } else if (!window && argument == "--no-announce") {
            line.noAnnounce = true;
            continue;
        } else if (argument == "--check-ack" || argument == "--no-check-ack") {
            // --no-check-ack overrides a settings file's check-ack = yes.
            const bool on = argument == "--check-ack";
            if (line.checkAckGiven && line.checkAck != on) {
                throw UsageError("--check-ack and --no-check-ack are both given; give one");
            }
            line.checkAck = on;
            line.checkAckGiven = true;
            continue;
        } else if (const auto qt = qtOption(argument); window && qt != QtOption::None) {
            line.toolkit.push_back(argument);
            if (qt == QtOption::WithValue) {
                if (i + 1 >= arguments.size()) throw UsageError(ports::printable(argument) + " needs a value; see --help");
                line.toolkit.push_back(arguments[++i]);
            }
            continue;
        } else if (!window && (argument == "-" || argument.rfind("-", 0) != 0 ||
                               (argument.size() > 1 && argument[1] >= '0' && argument[1] <= '9'))) {
            // A negative number is a value (set 1 -1), for the action to refuse.
            line.actions.push_back(argument);
            continue;
        } else if (argument.rfind("-", 0) == 0) {
            throw UsageError("unknown option '" + ports::printable(argument) + "'; see --help");
        } else {
            throw UsageError("unexpected argument '" + ports::printable(argument) + "'; see --help");
        }
        // A second --port would silently win over the first: say so instead.
        if (std::find(given.begin(), given.end(), option) != given.end()) {
            throw UsageError(option + " is given twice; give it once");
        }
        given.push_back(option);
        if (!hasValue) {
            if (i + 1 >= arguments.size()) throw UsageError(ports::printable(option) + " needs a value; see --help");
            value = arguments[++i];
        }
        if (value.empty()) throw UsageError(ports::printable(option) + " needs a value; see --help");
        if (value.size() > 1 && value[0] == '-') {
            throw UsageError(ports::printable(option) + " needs a value, not the option '" + ports::printable(value) +
                             "'; see --help");
        }
        *target = value;
    }
    // A number option's value in min..max; the refusal says what it is not and what to give.
    const auto number = [](const char* option, const std::string& text, std::uint64_t min, std::uint64_t max,
                           const char* isNot) {
        const auto parsed = ports::parseNumber(text, min, max);
        if (parsed.problem != ports::NumberProblem::None) {
            throw UsageError(std::string(option) + " " + ports::printable(text) + " is not " + isNot);
        }
        return parsed.value;
    };
    line.portGiven = std::find(given.begin(), given.end(), "--port") != given.end();
    line.addressGiven = !address.empty();
    if (!address.empty()) {
        line.address = static_cast<std::uint8_t>(number("--address", address, 0x08, 0x77,
                                                        "a 7-bit device address; give 0x08..0x77 (0x2c, the default, "
                                                        "makes the address bytes 0x58 and 0x59)"));
    }
    if (!clients.empty()) {
        line.clients = static_cast<int>(number("--clients", clients, 1, 64, "a number of clients; give 1..64 (4, the default)"));
    }
    if (!idle.empty()) {
        line.idleTimeout = static_cast<int>(number("--idle-timeout", idle, 0, 86400,
                                                   "a number of seconds; give 0..86400 (0: keep a silent client for "
                                                   "ever; 300, the default)"));
    }
    return line;
}

}  // namespace frontend
