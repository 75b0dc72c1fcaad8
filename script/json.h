// The JSON Lines pxctl writes with --json, one object per action, in the user's
// words: the action as typed, its index in the run, ok, and the displays under
// the names of script::kDisplays. packaging/pxctl-json.schema.json describes
// every object.
#pragma once

#include "commands/program.h"
#include "script/executor.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace script {

// Text as a JSON string, quotes included; always valid UTF-8.
std::string jsonQuoted(std::string_view text);

// One action's result: what it read and the displays after it, or what of it
// reached the port and the report.
std::string jsonResult(const Result& result, const commands::Program& program);

// A line of a session that was not run, or actions on the command line that
// were refused: where (line 0: the command line) and why.
std::string jsonBadLine(std::size_t line, std::string_view error);

// The last object of a run a signal ended: after how many actions, of how many
// (none given for a session).
std::string jsonInterrupted(std::string_view signal, std::size_t after, std::optional<std::size_t> of);

}  // namespace script
