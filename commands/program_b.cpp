// Program B's handlers: code entry and presets through a whole frame word spread
// over the panel, Read after a Run, and the shutdown code.
#include "bus/lines.h"
#include "bus/transactions.h"
#include "commands/descriptor.h"
#include "commands/program.h"
#include "frame/panel.h"

namespace commands {

ProgramB::ProgramB(bus::Port& port) : Program(frame::kProgramB, port) {}

void ProgramB::enterCode(int number) {
    const Channel ch = channel(number);
    ch.display.setText(controls::DecimalText(ch.code.Value()));
    InputCode = ch.code.Value();
    showChannel(ch.digit);
    FrameWord = (static_cast<std::uint32_t>(InputCode) << variant_.dataShift) | channelWord(number);
    frame::Set_Frame_Bits(controls_, FrameWord);
    Read_Write_Bits_to_Parallel_Port();
}

void ProgramB::preset(int code) {
    // The channel select bit is read twice, as in program A: the code scroll bar's
    // Change handler runs inside the first branch.
    for (int number : {1, 2}) {
        if (bit(variant_.channelSelect).Value() != number - 1) continue;
        const Channel ch = channel(number);
        ch.code.setValue(code);
        ch.display.setText(controls::DecimalText(ch.code.Value()));
        FrameWord = channelWord(number) | (static_cast<std::uint32_t>(code) << variant_.dataShift);
    }
    frame::Set_Frame_Bits(controls_, FrameWord);
    Read_Write_Bits_to_Parallel_Port();
}

void ProgramB::Read_Write_Bits_to_Parallel_Port() { writeFrame(); }

void ProgramB::cmdRead_Click() {
    cmdRun_Click();
    readBack();
}

void ProgramB::readBack() {
    setReadAddress();
    bit(variant_.readDataAck).setValue(1);  // the acknowledge after the data byte, shown as given
    const int value = readFromDevice();
    controls_.txtSDA_Data.setText(controls::DecimalText(value));
    const int low = variant_.readDataLow;
    for (int k = low; k < low + 8; ++k) bit(k).setValue(0);
    for (int k = low, q = value; k < low + 8; ++k, q /= 2) bit(k).setValue(q % 2);
}

void ProgramB::cmdSHDN_Click() { writeShutdown(); }

namespace {

// The program object of this table is always a ProgramB, made by the entry below.
constexpr auto kCommandsB = withOwnCommands(std::array{
    Command{"cmdSHDN", "shdn", "\"/SHDN\": the shutdown pattern 0xaf on the port until the next frame",
            [](Program& p) { static_cast<ProgramB&>(p).cmdSHDN_Click(); }},
});

}  // namespace

const Descriptor kDescriptorB{
    .key = "b",
    .executable = "px7702_reva",
    .caption = "PX7702_RevA",
    .windowName = "Form1",
    .summary = "PX7702_RevA: 27-bit frames, read-back on Read, /SHDN",
    .purpose = "set the wipers of a PX7702 potentiometer (27-bit frames, /SHDN)",
    .variant = frame::kProgramB,
    .make = [](bus::Port& port) -> std::unique_ptr<Program> { return std::make_unique<ProgramB>(port); },
    .load = nullptr,
    .commands = kCommandsB,
};

}  // namespace commands
