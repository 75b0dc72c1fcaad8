// IEEE 488.2's status reporting for a SCPI instrument: the error queue (SCPI's
// numbers and texts), the event status register and its enable, the service
// request enable and the status byte, and the common commands that read and
// set them (*CLS, *ESE, *ESR?, *SRE, *STB?, *OPC, *WAI).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace script {

struct ScpiError {
    int code;
    std::string_view text;
};
// Every error an instrument queues, with its text, in the standard's order.
std::span<const ScpiError> scpiErrors();
// SCPI's text for a standard error number: -113 "Undefined header".
std::string_view scpiErrorText(int code);

class ScpiStatus {
public:
    static constexpr std::size_t kErrorQueue = 16;  // the 16th error becomes -350

    // Queues an error and sets its class's bit in the event status register.
    void error(int code, std::string_view info = {});
    std::size_t errorCount() const { return errors_.size(); }
    // SYSTem:ERRor[:NEXT]?: the oldest error, 0,"No error" when none.
    std::string nextError();

    // A common command of the status registers (name upper case, '?' kept);
    // nullopt where it is not one of them. The answer is empty for a command.
    std::optional<std::string> common(std::string_view name, const std::vector<std::string>& params,
                                      std::string_view header);

    // EAV, MAV (where told), ESB and MSS as *STB? reads them.
    std::uint8_t statusByte(bool messageAvailable = false) const;

private:
    bool mask(std::uint8_t& registerValue, const std::vector<std::string>& params, std::string_view header);

    std::deque<std::pair<int, std::string>> errors_;
    std::uint8_t esr_ = 0x80;  // power on
    std::uint8_t ese_ = 0;
    std::uint8_t sre_ = 0;
};

}  // namespace script
