// Port strings, name[:key=value,...]: parsing, and the typed look-ups with which
// each backend checks its own keys.
#pragma once

#include <cstdint>
#include <initializer_list>
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

// Text from the command line as an error message may show it: control and
// non-ASCII bytes become \xNN, so a message stays one printable line.
std::string printable(std::string_view text);

class Options {
public:
    // Splits "name:key=value,key=value". Throws ConfigError for a key without
    // '=' or a key given twice.
    static std::pair<std::string, Options> parse(std::string_view spec);

    const std::string& backend() const { return backend_; }

    // Every key must be one of these; throws naming the first that is not.
    void acceptOnly(std::initializer_list<std::string_view> keys) const;

    std::optional<std::string> text(std::string_view key) const;

    // A decimal or 0x-prefixed number in [min, max]; `accepts` says what is
    // valid in the error message.
    std::optional<std::uint64_t> number(std::string_view key, std::uint64_t min, std::uint64_t max,
                                        std::string_view accepts) const;

    [[noreturn]] void reject(std::string_view key, std::string_view problem, std::string_view accepts) const;

private:
    std::string backend_;
    std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace ports
