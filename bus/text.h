// Text from outside (paths, input, a library's exception) as messages show it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bus {

// Text as a message shows it, in a terminal, a dialog or JSON alike: valid
// UTF-8 stays as it is; control characters (C0, DEL, C1) and bytes that are
// not UTF-8 become \xNN, so that a message stays one line of text and no path
// or input can steer the terminal it is printed on.
std::string displayable(std::string_view text);

// The same for text echoed from the command line, cut at kEchoLength bytes
// ("...") without splitting a character.
inline constexpr std::size_t kEchoLength = 64;
std::string printable(std::string_view text);

// The length of the valid UTF-8 character (not a control) starting at text[i],
// or 0 where the byte there must be escaped.
std::size_t plainCharacterAt(std::string_view text, std::size_t i);

}  // namespace bus
