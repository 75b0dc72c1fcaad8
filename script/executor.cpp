#include "script/executor.h"

#include "bus/text.h"

#include <charconv>

namespace script {

std::optional<int> displayValue(const commands::Program& program, const Display& display) {
    const std::string_view text = (program.controls().*display.box).Text();
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string_view causeName(Result::Cause cause) {
    switch (cause) {
        case Result::Cause::None: return "";
        case Result::Cause::Port: return "port failed";
        case Result::Cause::NoAnswer: return "no device answered";
        case Result::Cause::Stuck: return "bus stuck";
    }
    return "";
}

Result Executor::execute(const Action& action) {
    Result result;
    result.index = ++count_;
    result.action = action.text;
    if (listener_) listener_(labelOf(action));
    program_.beginAction();
    if (action.kind == Action::Kind::Recover && !kernelRecovers_.empty()) {
        result.note = kernelRecovers_ + ": the kernel recovers its I2C buses itself; nothing was sent";
        return result;
    }
    // A failure's kind is told by its type, caught in order: the checks' own
    // failures before the port failure they are.
    const auto failed = [&](const bus::PortError& e, Result::Cause cause) {
        result.ok = false;
        result.delivery = program_.delivery(e);
        result.cause = cause;
        result.code = e.code();
        result.error = bus::displayable(commands::failureReport(action.text, result.delivery, bus::displayable(e.what())));
    };
    try {
        const Outcome outcome = runAction(action, program_);
        result.read = outcome.read;
        result.recovery = outcome.recovery;
        if (outcome.recovery && !outcome.recovery->free) {
            result.ok = false;
            result.cause = Result::Cause::Stuck;
            result.error = bus::displayable(action.text) + ": SDA still low after " +
                           std::to_string(outcome.recovery->clocks) + " clocks: the bus is stuck";
        }
    } catch (const bus::NoAcknowledge& e) {
        failed(e, Result::Cause::NoAnswer);
    } catch (const bus::BusStuck& e) {
        failed(e, Result::Cause::Stuck);
    } catch (const bus::PortError& e) {
        failed(e, Result::Cause::Port);
    }
    return result;
}

}  // namespace script
