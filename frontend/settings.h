// The user's own defaults, set once: a small file per user and the
// environment, under what the command line says. The windows, pxctl, serve and
// the Python module take the port, the address and the acknowledge check from
// the first of: the command line, PX77XX_PORT (the port alone), the settings
// file, the built-in default.
#pragma once

#include "frontend/command_line.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace frontend {

enum class Source { CommandLine, Environment, File, BuiltIn };

// The keys of the file, in the order pxctl config lists them.
inline constexpr std::string_view kSettingKeys[] = {"port", "address", "check-ack"};

// The settings file, read: "key = value" lines; # starts a comment line.
struct UserSettings {
    std::string file;  // where it is, or would be; "" where this user has no settings folder
    struct Entry {
        std::string key;
        std::string value;
        int line = 0;
    };
    std::vector<Entry> entries;            // as the file gives them, each key once
    std::optional<std::string> portFromEnvironment;  // PX77XX_PORT
    // Where the file is there but cannot be read (another user's home, as
    // `sudo -u` leaves HOME): why. It is then taken as empty.
    std::string unreadable;

    const Entry* find(std::string_view key) const;
};

// The file's text, checked: an unknown key, a key given twice, a value that is
// not one the key takes or a line that is not key = value is refused with the
// file and line named, as a UsageError.
UserSettings parseSettings(std::string_view text, const std::string& file);

// The user's file (missing is none set) and PX77XX_PORT.
UserSettings readUserSettings();

// Fills in what the command line left to the user's defaults. Where the port
// would have come from a file that cannot be read, line.notice says so.
void applySettings(CommandLine& line, const UserSettings& settings);

// A port's refusal, with where the port came from when the command line did
// not give it: "... (the port PX77XX_PORT gives)".
std::string withPortSource(const std::string& message, const CommandLine& line);

// Each key's value in force, and where it came from, for pxctl config.
struct InForce {
    std::string key;
    std::string value;
    Source source;
    std::string where;  // "--port", "PX77XX_PORT", "FILE:LINE", "built in"
};
std::vector<InForce> settingsInForce(const CommandLine& line, const UserSettings& settings);

// pxctl config: no words lists what is in force; "KEY VALUE" sets a key in the
// file, "KEY" alone clears it. Returns what to print.
std::string configure(const std::vector<std::string>& words, const CommandLine& line);

// For the port chooser: the user's default port now ("" where neither
// PX77XX_PORT nor the file sets one), and the port saved as the default, as
// pxctl config port PORT saves it (a sentence; throws UsageError).
std::string userDefaultPort();
std::string saveDefaultPort(const std::string& port);

}  // namespace frontend
