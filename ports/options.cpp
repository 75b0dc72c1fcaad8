// Port-string parsing.
#include "ports/options.h"

#include <charconv>

namespace ports {

std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F) {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::pair<std::string, Options> Options::parse(std::string_view spec) {
    Options options;
    const auto colon = spec.find(':');
    options.backend_ = std::string(spec.substr(0, colon));
    if (colon == std::string_view::npos) return {options.backend_, options};
    std::string_view rest = spec.substr(colon + 1);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const auto equals = item.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            throw ConfigError(printable(options.backend_) + ": '" + printable(item) + "' is not key=value");
        }
        std::string key(item.substr(0, equals));
        for (const auto& pair : options.pairs_) {
            if (pair.first == key) throw ConfigError(printable(options.backend_) + ": " + printable(key) + " is given twice");
        }
        options.pairs_.emplace_back(std::move(key), std::string(item.substr(equals + 1)));
    }
    return {options.backend_, options};
}

void Options::acceptOnly(std::initializer_list<std::string_view> keys) const {
    for (const auto& pair : pairs_) {
        bool known = false;
        for (auto key : keys) known = known || key == pair.first;
        if (known) continue;
        std::string list;
        for (auto key : keys) {
            if (!list.empty()) list += ", ";
            list += key;
        }
        throw ConfigError(backend_ + ": unknown key '" + printable(pair.first) + "'; " + backend_ + " accepts " +
                          (list.empty() ? std::string("no keys") : list));
    }
}

std::optional<std::string> Options::text(std::string_view key) const {
    for (const auto& pair : pairs_) {
        if (pair.first == key) return pair.second;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> Options::number(std::string_view key, std::uint64_t min, std::uint64_t max,
                                             std::string_view accepts) const {
    const auto value = text(key);
    if (!value) return std::nullopt;
    std::string_view digits = *value;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number, base);
    if (digits.empty() || error == std::errc::invalid_argument || end != digits.data() + digits.size()) {
        reject(key, "is not a number", accepts);
    }
    if (error == std::errc::result_out_of_range || number < min || number > max) {
        reject(key, "is out of range", accepts);
    }
    return number;
}

void Options::reject(std::string_view key, std::string_view problem, std::string_view accepts) const {
    const auto value = text(key);
    throw ConfigError(backend_ + ": " + std::string(key) + (value ? "=" + printable(*value) : std::string()) + " " +
                      std::string(problem) + "; " + std::string(key) + " accepts " + std::string(accepts));
}

}  // namespace ports
