// Each program's documentation as data, from the same tables as everything
// else (backends, trace formats, the commands' vocabulary), rendered two ways:
// as --help, and as the man page the package installs.
#pragma once

#include "commands/descriptor.h"

#include <string>
#include <string_view>
#include <vector>

namespace frontend {

// One definition: an option, an action, a port string, an exit status.
struct Entry {
    std::string term;  // "--port PORT"
    std::string text;  // plain text; no mark-up
};

struct Example {
    std::string what;     // a sentence
    std::string command;  // one shell line
};

// A section of definitions of its own, after the list: "JSON output".
struct Section {
    std::string title;  // as --help shows it; the man page's is in capitals
    std::string intro;  // a paragraph before the entries; may be empty
    std::vector<Entry> entries;
};

struct Manual {
    std::string name;                      // "pxctl"
    std::string summary;                   // the NAME line
    std::vector<std::string> synopsis;     // every form, after the name
    std::vector<std::string> description;  // paragraphs
    std::vector<Entry> options;
    std::string listTitle;                 // "ACTIONS", "THE WINDOW"
    std::vector<Entry> list;
    std::vector<std::string> notes;        // paragraphs after the list
    std::vector<Section> sections;         // after the list
    std::vector<Example> examples;
    std::vector<Entry> exitStatus;
    std::vector<Entry> files;
    std::vector<std::string> seeAlso;      // "pxctl(1)"
};

Manual pxctlManual();
Manual windowManual(const commands::Descriptor& program);

// --help: plain text, wrapped to 79 columns.
std::string helpText(const Manual& manual);

// What a help line in pxctl's - session prints: the actions, ending in a newline.
std::string sessionHelp();
// What help ACTION prints in a session: the entries whose form starts with
// the action's name; empty where there is none.
std::string sessionHelp(std::string_view action);

// The man page, in roff (man macros).
std::string manPage(const Manual& manual, std::string_view version, std::string_view date);

}  // namespace frontend
