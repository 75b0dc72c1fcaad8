// SCPI's generic parsing (SCPI-1999 chapter 6, IEEE 488.2 chapter 7): a tree of
// mnemonics built from headers written as the standard writes them
// ("[SOURce:]WIPer<1|2>[:CODE]"), matched in short or long form and in any
// case; program message units split at ';' outside quoted strings; numeric
// parameters with MINimum, MAXimum and DEFault. Nothing here knows what any
// command does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace script::scpi {

// A node of the command tree. `handler` is the row of the instrument's table
// a header ending here runs; -1 for a node that only leads to others.
struct Node {
    std::string_view name;  // upper case letters: the short form
    int handler = -1;
    bool command = false;  // takes the set form
    bool query = false;    // takes the ? form
    bool optional = false;
    int suffixMin = -1;  // -1: takes no numeric suffix
    int suffixMax = -1;
    std::vector<Node> children;
};

// Adds a header, written as the standard writes it, to the tree under root: a
// segment in [brackets] may be left out, <1|2> or <0..44> is its numeric
// suffix. A trailing optional segment ends the header on either node.
void addHeader(Node& root, std::string_view header, int handler, bool command, bool query);

// One program message unit of a line.
struct Unit {
    std::string header;  // as typed, without its '?'
    bool query = false;
    std::vector<std::string> params;  // trimmed
};

struct Mnemonic {
    std::string alpha;
    std::optional<int> suffix;  // digits after the letters
    bool valid = true;
};
Mnemonic splitMnemonic(std::string_view text);

struct Match {
    std::vector<const Node*> path;  // from below the start node to the leaf
    int suffix = -1;
    bool suffixOutOfRange = false;
};
// Walks mnemonics[from..] from node, stepping into optional nodes where a
// mnemonic names none of the children. The leaf must have a handler.
bool walk(const Node& node, const std::vector<Mnemonic>& mnemonics, std::size_t from, Match& match);

// "WIPer" is matched by WIP and WIPER, in any case.
bool matches(std::string_view name, std::string_view given);
std::string upper(std::string_view text);
std::string_view trim(std::string_view text);
// Splits at separators outside quoted strings; says whether one is left open.
std::vector<std::string_view> split(std::string_view text, char separator, bool* quoteLeftOpen = nullptr);

// A numeric parameter: a decimal number or MINimum, MAXimum, DEFault.
struct Number {
    enum class Kind : std::uint8_t { Value, Min, Max, Default, NotNumeric } kind = Kind::NotNumeric;
    double value = 0;
};
Number number(std::string_view text);

// SCPI's quoted string: the quote doubled inside.
std::string quoted(std::string_view text);

}  // namespace script::scpi
