// Port strings, name[:key=value,...]: parsing, and the typed look-ups with which
// each backend checks its own keys.
#pragma once

#include "bus/text.h"

#include <cstdint>
#include <span>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ports {

// A port string that cannot be opened as written. One line, naming the key and
// what it accepts.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How messages show text (bus/text.h), by the names the ports have used.
using bus::displayable;
using bus::kEchoLength;
using bus::plainCharacterAt;
using bus::printable;

// A number as port strings and actions write it: decimal, or hexadecimal after 0x.
enum class NumberProblem { None, NotANumber, OutOfRange };
struct ParsedNumber {
    std::uint64_t value;
    NumberProblem problem;
};
ParsedNumber parseNumber(std::string_view text, std::uint64_t min, std::uint64_t max);

// One key of a port string: what it accepts (for messages and --help), its
// default, and for a number its range. A key with a refusal is one the backend
// knows but does not take, and says why.
struct Key {
    std::string_view name;
    std::string_view accepts;
    std::string_view fallback = {};  // the default, as written in a port string
    std::uint64_t min = 0;           // min == max == 0: not a number
    std::uint64_t max = 0;
    std::string_view refusal = {};  // why it does not apply: "i2c transfers are timed by the adapter"
};

class Options {
public:
    // Splits "name:key=value,key=value". Throws ConfigError for a key without
    // '=' or a key given twice.
    static std::pair<std::string, Options> parse(std::string_view spec);

    // Every key must be one of these and none refused; throws naming the first
    // that is not.
    void acceptOnly(std::span<const Key> keys) const;

    std::optional<std::string> text(std::string_view key) const;
    // The key's value, or its default.
    std::string text(const Key& key) const { return text(key.name).value_or(std::string(key.fallback)); }
    // The key's number, or its default's, checked against its range (decimal
    // or 0x-prefixed); nullopt where it has neither.
    std::optional<std::uint64_t> number(const Key& key) const;

    [[noreturn]] void reject(std::string_view key, std::string_view problem, std::string_view accepts) const;

private:
    std::string backend_;
    std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace ports
