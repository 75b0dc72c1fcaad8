#include "frontend/settings.h"

#include "platform/files.h"
#include "ports/factory.h"
#include "ports/options.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace frontend {
namespace {

constexpr std::size_t kLimit = 16 * 1024;  // a settings file is a few lines

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return "";
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<std::uint8_t> addressValue(const std::string& text) {
    const auto parsed = ports::parseNumber(text, 0x08, 0x77);
    if (parsed.problem != ports::NumberProblem::None) return std::nullopt;
    return static_cast<std::uint8_t>(parsed.value);
}

std::optional<bool> yesNo(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "yes" || text == "true" || text == "on" || text == "1") return true;
    if (text == "no" || text == "false" || text == "off" || text == "0") return false;
    return std::nullopt;
}

// Why a key does not take a value; "" where it does. The port is checked
// where it is opened (or set), so that a port unplugged today does not stop
// a run that names another.
std::string refusal(std::string_view key, const std::string& value) {
    if (value.empty()) return "has no value";
    if (key == "address" && !addressValue(value)) return "is not a 7-bit device address; give 0x08..0x77";
    if (key == "check-ack" && !yesNo(value)) return "is neither yes nor no";
    return "";
}

bool known(std::string_view key) {
    return std::find(std::begin(kSettingKeys), std::end(kSettingKeys), key) != std::end(kSettingKeys);
}

std::string keyList() { return "port, address or check-ack"; }

}  // namespace

const UserSettings::Entry* UserSettings::find(std::string_view key) const {
    for (const Entry& entry : entries) {
        if (entry.key == key) return &entry;
    }
    return nullptr;
}

UserSettings parseSettings(std::string_view text, const std::string& file) {
    UserSettings settings;
    settings.file = file;
    int number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::string at = file + ":" + std::to_string(number) + ": ";
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            throw UsageError(at + "'" + ports::printable(line) + "' is not key = value (" + keyList() + ")");
        }
        UserSettings::Entry entry{trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), number};
        if (!known(entry.key)) {
            throw UsageError(at + "unknown key '" + ports::printable(entry.key) + "'; the keys are " + keyList());
        }
        if (settings.find(entry.key) != nullptr) throw UsageError(at + entry.key + " is given twice");
        if (const std::string why = refusal(entry.key, entry.value); !why.empty()) {
            throw UsageError(at + entry.key + " = " + ports::printable(entry.value) + " " + why);
        }
        settings.entries.push_back(std::move(entry));
    }
    return settings;
}

UserSettings readUserSettings() {
    const std::string file = platform::userSettingsFile();
    std::string unreadable;
    std::optional<std::string> text;
    if (!file.empty()) {
        try {
            text = platform::readSmallFile(file, kLimit);
        } catch (const platform::FileError& e) {
            unreadable = file + ": cannot read it (" + e.what() + "); the settings in it are not used";
        }
    }
    UserSettings settings = parseSettings(text.value_or(""), file);
    settings.unreadable = unreadable;
    if (auto port = platform::environment("PX77XX_PORT"); port && !port->empty()) settings.portFromEnvironment = port;
    return settings;
}

void applySettings(CommandLine& line, const UserSettings& settings) {
    const auto from = [&](const UserSettings::Entry& e) { return settings.file + ":" + std::to_string(e.line); };
    if (!line.portGiven) {
        if (!settings.portFromEnvironment && !settings.unreadable.empty()) line.notice = settings.unreadable;
        if (settings.portFromEnvironment) {
            line.port = *settings.portFromEnvironment;
            line.portFrom = "PX77XX_PORT";
        } else if (const auto* port = settings.find("port")) {
            line.port = port->value;
            line.portFrom = from(*port);
        }
    }
    if (!line.addressGiven) {
        if (const auto* address = settings.find("address")) line.address = *addressValue(address->value);
    }
    if (!line.checkAckGiven) {
        if (const auto* check = settings.find("check-ack")) line.checkAck = *yesNo(check->value);
    }
}

std::string withPortSource(const std::string& message, const CommandLine& line) {
    if (line.portFrom.empty()) return message;
    return message + " (the port " + line.portFrom + " gives; pxctl config shows where each setting comes from)";
}

std::vector<InForce> settingsInForce(const CommandLine& line, const UserSettings& settings) {
    CommandLine effective = line;
    applySettings(effective, settings);
    std::vector<InForce> result;
    for (const std::string_view key : kSettingKeys) {
        InForce in{std::string(key), "", Source::BuiltIn, "built in"};
        const auto* entry = settings.find(key);
        const bool given = key == "port" ? line.portGiven : key == "address" ? line.addressGiven : line.checkAckGiven;
        if (given) {
            in.source = Source::CommandLine;
            in.where = key == "check-ack" ? (line.checkAck ? "--check-ack" : "--no-check-ack") : "--" + std::string(key);
        } else if (key == "port" && settings.portFromEnvironment) {
            in.source = Source::Environment;
            in.where = "PX77XX_PORT";
        } else if (entry != nullptr) {
            in.source = Source::File;
            in.where = settings.file + ":" + std::to_string(entry->line);
        }
        in.value = key == "port"      ? effective.port
                   : key == "address" ? addressText(effective.address)
                                      : (effective.checkAck ? "yes" : "no");
        result.push_back(std::move(in));
    }
    return result;
}

std::string configure(const std::vector<std::string>& words, const CommandLine& line) {
    UserSettings settings = readUserSettings();
    if (words.empty()) {
        std::string text;
        for (const InForce& in : settingsInForce(line, settings)) {
            text += in.key + std::string(10 - in.key.size(), ' ') + "= " + in.value + "    (" + in.where + ")\n";
        }
        text += "settings file: " + (settings.file.empty() ? std::string("none: no home folder is set") : settings.file) + "\n";
        if (!settings.unreadable.empty()) text += "note: " + settings.unreadable + "\n";
        return text;
    }
    const std::string& key = words[0];
    if (!known(key)) throw UsageError("config: unknown key '" + ports::printable(key) + "'; the keys are " + keyList());
    if (words.size() > 2) throw UsageError("config takes a key and a value, or a key alone to clear it");
    if (settings.file.empty()) throw UsageError("config: no settings folder: neither HOME nor XDG_CONFIG_HOME is set");
    std::string value = words.size() == 2 ? words[1] : "";
    if (words.size() == 2) {
        if (const std::string why = refusal(key, value); !why.empty()) {
            throw UsageError("config: " + key + " " + ports::printable(value) + " " + why);
        }
        if (key == "port") {
            try {
                (void)ports::openPort(value);  // checked as --port is; nothing is touched
            } catch (const ports::ConfigError& e) {
                throw UsageError(std::string("config: port: ") + e.what());
            }
        }
        if (key == "address") value = addressText(*addressValue(value));
        if (key == "check-ack") value = *yesNo(value) ? "yes" : "no";
    }
    // The file keeps its other lines, comments included; the key's line is
    // replaced, added, or dropped.
    std::string text;
    bool placed = false;
    std::optional<std::string> old;
    try {
        old = platform::readSmallFile(settings.file, kLimit);
    } catch (const platform::FileError& e) {
        throw UsageError(settings.file + ": cannot read it: " + e.what());
    }
    const std::string before = old.value_or("");
    const auto* entry = settings.find(key);
    int number = 0;
    for (std::size_t start = 0; start < before.size();) {
        const std::size_t end = std::min(before.find('\n', start), before.size());
        const std::string original = before.substr(start, end - start);
        start = end + 1;
        if (++number == (entry != nullptr ? entry->line : 0)) {
            if (words.size() == 2) text += key + " = " + value + "\n";
            placed = true;
            continue;
        }
        text += original + "\n";
    }
    if (!placed && words.size() == 2) text += key + " = " + value + "\n";
    try {
        const std::u8string folder(settings.file.begin(), settings.file.end());
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ignored);
        platform::replaceFile(settings.file, text);
    } catch (const platform::FileError& e) {
        throw UsageError(settings.file + ": cannot write it: " + e.what());
    }
    if (words.size() == 2) return key + " = " + value + " is set in " + settings.file + "\n";
    CommandLine none = line;
    none.portGiven = none.addressGiven = none.checkAckGiven = false;
    UserSettings after = parseSettings(text, settings.file);
    after.portFromEnvironment = settings.portFromEnvironment;
    for (const InForce& in : settingsInForce(none, after)) {
        if (in.key == key) return key + " is cleared in " + settings.file + "; now " + in.value + " (" + in.where + ")\n";
    }
    return "";
}

std::string userDefaultPort() {
    CommandLine line;
    try {
        applySettings(line, readUserSettings());
    } catch (const UsageError&) {
        return "";
    }
    return line.portFrom.empty() ? "" : line.port;
}

std::string saveDefaultPort(const std::string& port) {
    CommandLine none;
    std::string said = configure({"port", port}, none);
    while (!said.empty() && said.back() == '\n') said.pop_back();
    return said;
}

}  // namespace frontend
