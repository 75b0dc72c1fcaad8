#include "bus/text.h"

namespace bus {

std::size_t plainCharacterAt(std::string_view text, std::size_t i) {
    const auto at = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0U; };
    const unsigned lead = at(i);
    if (lead >= 0x20 && lead < 0x7F) return 1;
    const auto continues = [&](std::size_t k, unsigned low = 0x80, unsigned high = 0xBF) {
        return at(k) >= low && at(k) <= high;
    };
    if (lead >= 0xC2 && lead <= 0xDF) {
        // U+0080..U+009F are the C1 controls.
        return continues(i + 1) && !(lead == 0xC2 && at(i + 1) < 0xA0) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        return continues(i + 1, low, high) && continues(i + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return continues(i + 1, low, high) && continues(i + 2) && continues(i + 3) ? 4 : 0;
    }
    return 0;
}

namespace {

std::string escaped(std::string_view text, std::size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 3);
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = plainCharacterAt(text, i);
        if (i + (length == 0 ? 1 : length) > limit) {
            out += "...";
            break;
        }
        if (length > 0) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[i++]);
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}

}  // namespace

std::string displayable(std::string_view text) { return escaped(text, text.size()); }

std::string printable(std::string_view text) { return escaped(text, kEchoLength); }

}  // namespace bus
