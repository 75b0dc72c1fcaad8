// Running actions for any front end: pxctl's arguments and sessions, the
// Python module. An action's result says what it did, or what of it reached the
// port and why it failed, in the words every front end shows.
#pragma once

#include "bus/transactions.h"
#include "commands/program.h"
#include "controls/controls.h"
#include "script/actions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace script {

// The window's displays under the names a user knows them by: the JSON keys
// and the Python properties.
struct Display {
    std::string_view name;
    controls::TextBox controls::Controls::*box;
    std::string_view help;
};
inline constexpr std::array kDisplays{
    Display{"code1", &controls::Controls::txtDisplay1, "the code of channel 1 as last entered (0..255)"},
    Display{"code2", &controls::Controls::txtDisplay2, "the code of channel 2 as last entered (0..255)"},
    Display{"channel_written", &controls::Controls::txtCh_Write_Display, "the channel the frames write (1 or 2)"},
    Display{"channel_read", &controls::Controls::txtCh_Read_Display, "the channel shown on the read row (1 or 2)"},
    Display{"data_written", &controls::Controls::txtSDA_Write, "the data byte the bit panel holds (0..255)"},
    Display{"byte_read", &controls::Controls::txtSDA_Data, "the byte the last read-back read (0..255)"},
};

// A display's number; empty until the program first shows one there.
std::optional<int> displayValue(const commands::Program& program, const Display& display);

struct Result {
    // What failed, for a front end that tells the causes apart.
    enum class Cause : std::uint8_t { None, Port, NoAnswer, Stuck };

    std::size_t index = 0;  // 1 for the first action of the run
    std::string action;     // as the user wrote it
    bool ok = true;
    std::optional<int> read;                 // the byte a read-back read
    std::optional<bus::Recovery> recovery;   // recover, where the program clocked the bus
    std::string note;                        // recover on an adapter: why nothing was sent
    Cause cause = Cause::None;
    commands::Delivery delivery;  // when not ok: what reached the port
    std::string error;            // when not ok: the whole report, "mid: cut short after 17 of 59 writes: ..."
    int code = 0;                 // when not ok: the system's error number behind it, 0 where none is
};

// The words of a cause: "port failed", "no device answered", "bus stuck".
std::string_view causeName(Result::Cause cause);

class Executor {
public:
    explicit Executor(commands::Program& program) : program_(program) {}

    // Runs one action as the window would on the same event. A port failure is
    // caught and reported in the result, never thrown.
    Result execute(const Action& action);

    commands::Program& program() { return program_; }
    std::size_t count() const { return count_; }

    // Told each action's label before it runs (a trace's action column).
    void setActionListener(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

    // Where the kernel recovers the bus itself (an I2C adapter): recover says
    // so, naming the port, and sends nothing.
    void setKernelRecovers(std::string port) { kernelRecovers_ = std::move(port); }

private:
    commands::Program& program_;
    std::size_t count_ = 0;
    std::string kernelRecovers_;
    std::function<void(const std::string&)> listener_;
};

}  // namespace script
