#include "script/scpi_parser.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace script::scpi {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool matches(std::string_view name, std::string_view given) {
    std::string shortForm;
    for (char c : name) {
        if (std::isupper(static_cast<unsigned char>(c))) shortForm += c;
    }
    const std::string asked = upper(given);
    return asked == shortForm || asked == upper(name);
}

Mnemonic splitMnemonic(std::string_view text) {
    Mnemonic m;
    std::size_t i = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    m.alpha = std::string(text.substr(0, i));
    if (i < text.size()) {
        const auto digits = text.substr(i);
        int value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc{} || end != digits.data() + digits.size() || digits.size() > 4) {
            m.valid = false;
        } else {
            m.suffix = value;
        }
    }
    m.valid = m.valid && !m.alpha.empty() && m.alpha.size() <= 12;
    return m;
}

bool walk(const Node& node, const std::vector<Mnemonic>& mnemonics, std::size_t from, Match& match) {
    if (from == mnemonics.size()) {
        if (node.handler >= 0) return true;
        for (const Node& child : node.children) {
            if (child.optional && child.handler >= 0) {
                match.path.push_back(&child);
                return true;
            }
        }
        return false;
    }
    const Mnemonic& m = mnemonics[from];
    for (const Node& child : node.children) {
        if (!matches(child.name, m.alpha)) continue;
        if (m.suffix && child.suffixMin < 0) continue;
        const std::size_t depth = match.path.size();
        const int suffix = match.suffix;
        const bool outOfRange = match.suffixOutOfRange;
        match.path.push_back(&child);
        if (child.suffixMin >= 0) {
            match.suffix = m.suffix.value_or(1);
            match.suffixOutOfRange = match.suffix < child.suffixMin || match.suffix > child.suffixMax;
        }
        if (walk(child, mnemonics, from + 1, match)) return true;
        match.path.resize(depth);
        match.suffix = suffix;
        match.suffixOutOfRange = outOfRange;
    }
    for (const Node& child : node.children) {
        if (!child.optional || child.children.empty()) continue;
        const std::size_t depth = match.path.size();
        match.path.push_back(&child);
        if (walk(child, mnemonics, from, match)) return true;
        match.path.resize(depth);
    }
    return false;
}

std::vector<std::string_view> split(std::string_view text, char separator, bool* quoteLeftOpen) {
    std::vector<std::string_view> parts;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    if (quoteLeftOpen != nullptr) *quoteLeftOpen = quote != 0;
    return parts;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

Number number(std::string_view text) {
    if (matches("MINimum", text)) return {Number::Kind::Min};
    if (matches("MAXimum", text)) return {Number::Kind::Max};
    if (matches("DEFault", text)) return {Number::Kind::Default};
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return {};
    return {Number::Kind::Value, value};
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

namespace {

// One segment of a header as the standard writes it: "[SOURce:]", "WIPer<1|2>", "[:CODE]".
struct Segment {
    std::string_view name;
    bool optional = false;
    int suffixMin = -1, suffixMax = -1;
};

std::vector<Segment> segments(std::string_view header) {
    std::vector<Segment> out;
    while (!header.empty()) {
        Segment segment;
        if (header.front() == '[') {
            const auto close = header.find(']');
            if (close == std::string_view::npos) throw std::logic_error("unclosed [ in a SCPI header");
            std::string_view inner = header.substr(1, close - 1);
            header.remove_prefix(close + 1);
            if (!inner.empty() && inner.front() == ':') inner.remove_prefix(1);
            if (!inner.empty() && inner.back() == ':') inner.remove_suffix(1);
            segment.name = inner;
            segment.optional = true;
        } else {
            if (header.front() == ':') header.remove_prefix(1);
            const auto end = header.find_first_of(":[");
            segment.name = header.substr(0, end);
            header.remove_prefix(end == std::string_view::npos ? header.size() : end);
        }
        if (const auto open = segment.name.find('<'); open != std::string_view::npos) {
            const std::string_view range = segment.name.substr(open + 1, segment.name.size() - open - 2);
            segment.name = segment.name.substr(0, open);
            const auto dots = range.find("..");
            const auto bar = range.find('|');
            const std::string_view low = range.substr(0, dots != std::string_view::npos ? dots : bar);
            const std::string_view high = dots != std::string_view::npos ? range.substr(dots + 2) : range.substr(range.rfind('|') + 1);
            std::from_chars(low.data(), low.data() + low.size(), segment.suffixMin);
            std::from_chars(high.data(), high.data() + high.size(), segment.suffixMax);
        }
        out.push_back(segment);
    }
    return out;
}

}  // namespace

void addHeader(Node& root, std::string_view header, int handler, bool command, bool query) {
    const std::vector<Segment> parts = segments(header);
    Node* node = &root;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Segment& part = parts[i];
        Node* found = nullptr;
        for (Node& child : node->children) {
            if (child.name == part.name) found = &child;
        }
        if (found == nullptr) {
            node->children.push_back(Node{part.name, -1, false, false, part.optional, part.suffixMin, part.suffixMax, {}});
            found = &node->children.back();
        }
        // A header may end before a trailing optional segment: WIPer1 is WIPer1:CODE.
        const bool last = i + 1 == parts.size() || (i + 2 == parts.size() && parts[i + 1].optional);
        if (last) {
            found->handler = handler;
            found->command = command;
            found->query = query;
        }
        node = found;
    }
}

}  // namespace script::scpi
