#include "script/scpi_status.h"

#include "bus/text.h"
#include "script/scpi_parser.h"

#include <array>
#include <cmath>

namespace script {
namespace {

constexpr std::array<ScpiError, 15> kErrors{{
    {0, "No error"},
    {-101, "Invalid character"},
    {-102, "Syntax error"},
    {-104, "Data type error"},
    {-108, "Parameter not allowed"},
    {-109, "Missing parameter"},
    {-113, "Undefined header"},
    {-114, "Header suffix out of range"},
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-224, "Illegal parameter value"},
    {-240, "Hardware error"},
    {-241, "Hardware missing"},
    {-350, "Queue overflow"},
    {-363, "Input buffer overrun"},
}};

// Where an error sets the event status register: command, execution,
// device-dependent or query error.
std::uint8_t esrBit(int code) {
    if (code <= -100 && code > -200) return 0x20;
    if (code <= -200 && code > -300) return 0x10;
    if (code <= -300 && code > -400) return 0x08;
    if (code <= -400 && code > -500) return 0x04;
    return 0;
}

}  // namespace

std::string_view scpiErrorText(int code) {
    for (const ScpiError& e : kErrors) {
        if (e.code == code) return e.text;
    }
    return "Error";
}

std::span<const ScpiError> scpiErrors() { return std::span(kErrors).subspan(1); }  // not 0, "No error"

void ScpiStatus::error(int code, std::string_view info) {
    esr_ = static_cast<std::uint8_t>(esr_ | esrBit(code));
    // A full queue keeps its oldest errors and ends in -350, a device-dependent error.
    if (errors_.size() + 1 >= kErrorQueue) {
        esr_ = static_cast<std::uint8_t>(esr_ | esrBit(-350));
        if (errors_.size() + 1 == kErrorQueue) errors_.emplace_back(-350, "");
        return;
    }
    errors_.emplace_back(code, bus::displayable(info));
}

std::string ScpiStatus::nextError() {
    if (errors_.empty()) return "0," + scpi::quoted("No error");
    auto [code, info] = errors_.front();
    errors_.pop_front();
    std::string text(scpiErrorText(code));
    if (!info.empty()) text += ";" + info;
    return std::to_string(code) + "," + scpi::quoted(text);
}

std::uint8_t ScpiStatus::statusByte(bool messageAvailable) const {
    std::uint8_t stb = 0;
    if (!errors_.empty()) stb |= 0x04;          // EAV: an error is queued
    if (messageAvailable) stb |= 0x10;          // MAV
    if ((esr_ & ese_) != 0) stb |= 0x20;        // ESB
    if ((stb & sre_ & 0xBF) != 0) stb |= 0x40;  // MSS
    return stb;
}

bool ScpiStatus::mask(std::uint8_t& registerValue, const std::vector<std::string>& params, std::string_view header) {
    if (params.size() != 1) {
        error(params.empty() ? -109 : -108, header);
        return false;
    }
    const scpi::Number n = scpi::number(params.front());
    if (n.kind != scpi::Number::Kind::Value) {
        error(-104, params.front());
        return false;
    }
    const double rounded = std::round(n.value);
    if (rounded < 0 || rounded > 255) {
        error(-222, params.front() + " (0..255)");
        return false;
    }
    registerValue = static_cast<std::uint8_t>(rounded);
    return true;
}

std::optional<std::string> ScpiStatus::common(std::string_view name, const std::vector<std::string>& params,
                                              std::string_view header) {
    if (name == "*CLS") {
        errors_.clear();
        esr_ = 0;
        return "";
    }
    if (name == "*ESE") {
        mask(ese_, params, header);
        return "";
    }
    if (name == "*ESE?") return std::to_string(ese_);
    if (name == "*ESR?") {
        const std::uint8_t value = esr_;
        esr_ = 0;
        return std::to_string(value);
    }
    if (name == "*SRE") {
        if (mask(sre_, params, header)) sre_ &= 0xBF;  // bit 6 cannot be enabled
        return "";
    }
    if (name == "*SRE?") return std::to_string(sre_);
    if (name == "*STB?") return std::to_string(statusByte());
    // Every command has finished when the next is read: operations complete at once.
    if (name == "*OPC") {
        esr_ |= 0x01;
        return "";
    }
    if (name == "*OPC?") return "1";
    if (name == "*WAI") return "";
    return std::nullopt;
}

}  // namespace script
