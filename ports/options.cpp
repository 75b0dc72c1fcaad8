// Port-string parsing.
#include "ports/options.h"

#include <charconv>

namespace ports {

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

void Options::acceptOnly(std::span<const Key> keys) const {
    for (const auto& pair : pairs_) {
        const Key* known = nullptr;
        for (const auto& key : keys) {
            if (key.name == pair.first) known = &key;
        }
        std::string list;
        for (const auto& key : keys) {
            if (!key.refusal.empty()) continue;
            if (!list.empty()) list += ", ";
            list += key.name;
        }
        const std::string taken = backend_ + " accepts " + (list.empty() ? std::string("no keys") : list);
        if (known == nullptr) throw ConfigError(backend_ + ": unknown key '" + printable(pair.first) + "'; " + taken);
        if (!known->refusal.empty()) {
            throw ConfigError(backend_ + ": " + std::string(known->refusal) + "; " + std::string(known->name) +
                              "= does not apply; " + taken);
        }
    }
}

std::optional<std::string> Options::text(std::string_view key) const {
    for (const auto& pair : pairs_) {
        if (pair.first == key) return pair.second;
    }
    return std::nullopt;
}

ParsedNumber parseNumber(std::string_view text, std::uint64_t min, std::uint64_t max) {
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number, base);
    if (digits.empty() || error == std::errc::invalid_argument || end != digits.data() + digits.size()) {
        return {0, NumberProblem::NotANumber};
    }
    if (error == std::errc::result_out_of_range || number < min || number > max) return {0, NumberProblem::OutOfRange};
    return {number, NumberProblem::None};
}

std::optional<std::uint64_t> Options::number(const Key& key) const {
    const auto value = text(key.name);
    if (!value && key.fallback.empty()) return std::nullopt;
    const ParsedNumber parsed = parseNumber(value ? std::string_view(*value) : key.fallback, key.min, key.max);
    if (parsed.problem == NumberProblem::NotANumber) reject(key.name, "is not a number", key.accepts);
    if (parsed.problem == NumberProblem::OutOfRange) reject(key.name, "is out of range", key.accepts);
    return parsed.value;
}

void Options::reject(std::string_view key, std::string_view problem, std::string_view accepts) const {
    // Appended, not "=" + text: GCC 12 warns falsely (-Wrestrict) on that form at -O3.
    std::string message = backend_ + ": " + std::string(key);
    if (const auto value = text(key)) message.append("=").append(printable(*value));
    message.append(" ").append(problem).append("; ").append(key).append(" accepts ").append(accepts);
    throw ConfigError(message);
}

}  // namespace ports
