// Line editing and history for an interactive session at a terminal: the
// arrows, Ctrl-R and the rest of the user's ~/.editrc (libedit on Linux).
// Windows' console edits and recalls lines itself, and a pipe gets none: there
// the session reads through LineReader, unchanged.
#pragma once

#include "platform/signals.h"

#include <memory>
#include <string>

namespace platform {

class LineEditor {
public:
    virtual ~LineEditor() = default;
    // Shows prompt and reads one line, edited; false at the end of input
    // (Ctrl-D on an empty line) or once a signal is noted.
    virtual bool next(const std::string& prompt, std::string& line) = 0;
};

// An editor on standard input where it is a terminal and this build has one;
// nullptr otherwise. Prompts and echo go to standard error, so that standard
// output carries the results alone.
std::unique_ptr<LineEditor> openLineEditor(const SignalWatch& signals, const char* program);

}  // namespace platform
