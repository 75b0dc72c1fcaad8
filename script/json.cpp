// pxctl's JSON Lines.
#include "script/json.h"

#include "bus/text.h"

#include <cstdio>

namespace script {
namespace {

std::string number(std::optional<int> value) { return value ? std::to_string(*value) : std::string("null"); }

}  // namespace

std::string jsonQuoted(std::string_view text) {
    // Valid UTF-8 whatever the text holds: controls as \u escapes, and a byte
    // that is not UTF-8 as the text \xNN, as every message shows it.
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (const std::size_t length = bus::plainCharacterAt(text, i); length > 0) {
            if (byte == '"' || byte == '\\') out += '\\';
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        char escape[8];
        const bool control = byte < 0x20 || byte == 0x7F || (byte == 0xC2 && i + 1 < text.size() &&
                                                             static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                                                             static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (control && byte == 0xC2) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else if (control) {
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            ++i;
        } else {
            std::snprintf(escape, sizeof escape, "\\\\x%02x", byte);
            ++i;
        }
        out += escape;
    }
    return out + "\"";
}

std::string jsonResult(const Result& result, const commands::Program& program) {
    std::string line = "{\"index\":" + std::to_string(result.index) + ",\"action\":" + jsonQuoted(result.action) +
                       ",\"ok\":" + (result.ok ? "true" : "false");
    if (!result.note.empty()) return line + ",\"note\":" + jsonQuoted(result.note) + "}";
    if (result.recovery) {
        line += ",\"free\":" + std::string(result.recovery->free ? "true" : "false") +
                ",\"clocks\":" + std::to_string(result.recovery->clocks);
        if (!result.ok) line += ",\"cause\":" + jsonQuoted(causeName(result.cause)) + ",\"error\":" + jsonQuoted(result.error);
        return line + "}";
    }
    if (!result.ok) {
        line += ",\"cause\":" + jsonQuoted(causeName(result.cause)) +
                ",\"delivery\":" + jsonQuoted(commands::mark(result.delivery));
        if (result.delivery.kind == commands::Delivery::Kind::CutShort) {
            line += ",\"writes\":" + std::to_string(result.delivery.writes) + ",\"of\":" + std::to_string(result.delivery.of);
        }
        return line + ",\"error\":" + jsonQuoted(result.error) + "}";
    }
    line += ",\"read\":" + number(result.read) + ",\"frame_word\":" + std::to_string(program.frameWord()) + ",\"displays\":{";
    for (const Display& display : kDisplays) {
        if (&display != &kDisplays.front()) line += ',';
        line += jsonQuoted(display.name) + ":" + number(displayValue(program, display));
    }
    return line + "}}";
}

std::string jsonBadLine(std::size_t line, std::string_view error) {
    return "{\"line\":" + std::to_string(line) + ",\"ok\":false,\"error\":" + jsonQuoted(error) + "}";
}

std::string jsonInterrupted(std::string_view signal, std::size_t after, std::optional<std::size_t> of) {
    std::string line = "{\"ok\":false,\"interrupted\":" + jsonQuoted(signal) + ",\"after\":" + std::to_string(after);
    if (of) line += ",\"of\":" + std::to_string(*of);
    return line + "}";
}

}  // namespace script
