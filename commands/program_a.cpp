// Program A's handlers: code entry bit by bit, presets that edit the panel and
// run it, and the read-back that follows every frame.
#include "bus/lines.h"
#include "bus/transactions.h"
#include "commands/descriptor.h"
#include "commands/program.h"
#include "frame/panel.h"

namespace commands {

ProgramA::ProgramA(bus::Port& port) : Program(frame::kProgramA, port) {}

void ProgramA::enterCode(int number) {
    const Channel ch = channel(number);
    for (int i = 0; i < 8; ++i) bit(variant_.addressTop - i).setValue((writeAddressByte() >> (7 - i)) & 1);
    bit(variant_.channelSelect).setValue(number == 2 ? 1 : 0);
    // The two instruction bits after the channel select are cleared; the rest of
    // the instruction byte keeps what the operator set.
    bit(variant_.channelSelect - 1).setValue(0);
    bit(variant_.channelSelect - 2).setValue(0);
    ch.display.setText(controls::DecimalText(ch.code.Value()));
    InputCode = ch.code.Value();
    showChannel(ch.digit);
    frame::Set_Data_Bits(controls_, InputCode);
    FrameWord = static_cast<std::uint32_t>(InputCode) | channelWord(number);
    Read_Write_Bits_to_Parallel_Port();
}

void ProgramA::preset(int code) {
    const bool mid = code == 128;
    const int fill = code == 255 ? 1 : 0;
    const int dataTop = variant_.dataTop();
    // Only the address byte's set bits are written, from the top down.
    auto addressOnes = [this](auto&& f) {
        for (int i = 0; i < 8; ++i) {
            if (((writeAddressByte() >> (7 - i)) & 1) != 0) f(variant_.addressTop - i);
        }
    };
    addressOnes([this](int k) { bit(k).setValue(1); });
    if (mid) bit(dataTop).setValue(1);
    addressOnes([this](int k) { bitText(k).setText("1"); });
    if (mid) bitText(dataTop).setText("1");
    for (int i = variant_.dataShift; i <= (mid ? dataTop - 1 : dataTop); ++i) {
        bit(i).setValue(fill);
        bitText(i).setText(fill != 0 ? "1" : "0");
    }
    // The channel select bit is read twice: the first branch's Change handler
    // runs inside the assignment and may leave it changed for the second.
    if (bit(variant_.channelSelect).Value() == 0) controls_.vsbInputCode1.setValue(code);
    if (bit(variant_.channelSelect).Value() == 1) controls_.vsbInputCode2.setValue(code);
    cmdRun_Click();
}

void ProgramA::Read_Write_Bits_to_Parallel_Port() {
    writeFrame();
    cmdRead_Click();
    if (!checkAck()) return;
    // The frame ends on its code without a ninth clock, so a device that
    // refused the code went unseen; the read-back of the wiper just selected
    // is the only answer there is.
    const int written = static_cast<int>((FrameWord >> variant_.dataShift) & 0xFF);
    if (lastRead() == written) return;
    throw bus::NoAcknowledge("the device did not take the code: it reads back " + std::to_string(lastRead()) +
                                 " after " + std::to_string(written) + " was written (this frame has no acknowledge "
                                 "slot after its last byte)",
                             true);
}

void ProgramA::readBack() {
    setReadAddress();
    const bus::ReadAddress address = readBackAddress();
    for (std::size_t i = 0; i < address.size(); ++i) {
        bitText(variant_.readAddressTop - static_cast<int>(i)).setText(address[i] != 0 ? "1" : "0");
    }
    const int value = readFromDevice();
    controls_.txtSDA_Data.setText(controls::DecimalText(value));
    const int low = variant_.readDataLow;
    for (int k = low; k < low + 8; ++k) bit(k).setValue(0);
    for (int k = low, q = value; k < low + 8; ++k, q /= 2) {
        if (q % 2 == 1) {
            bit(k).setValue(1);
            bitText(k).setText("1");
        } else {
            bitText(k).setText("0");
        }
    }
    bit(variant_.readDataAck).setValue(1);  // the acknowledge after the data byte, shown as given
    bitText(variant_.readDataAck).setText("1");
}

const Descriptor kDescriptorA{
    .key = "a",
    .executable = "px7700_02_reva",
    .caption = "PX7700_02_RevA",
    .windowName = "frmPX7700_02_RevA",
    .summary = "PX7700_02 RevA: 26-bit frames, read-back after every write",
    .purpose = "set the wipers of a PX7700/PX7702 potentiometer (26-bit frames)",
    .variant = frame::kProgramA,
    .make = [](bus::Port& port) -> std::unique_ptr<Program> { return std::make_unique<ProgramA>(port); },
    .load = [](Program& p) { static_cast<ProgramA&>(p).Form_Load(); },
    .commands = kSharedCommands,
};

}  // namespace commands
