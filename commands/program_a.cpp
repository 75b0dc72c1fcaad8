// Program A's handlers: code entry bit by bit, presets that edit the panel and
// run it, and the read-back that follows every frame.
#include "bus/transactions.h"
#include "commands/program.h"
#include "frame/panel.h"

namespace commands {
namespace {

// Slave address 0x58 on positions 25..18.
constexpr int kAddressBits[8] = {0, 1, 0, 1, 1, 0, 0, 0};

}  // namespace

ProgramA::ProgramA(bus::Port& port) : Program(frame::kProgramA, port) {}

void ProgramA::enterCode(int number) {
    const Channel ch = channel(number);
    for (int i = 0; i < 8; ++i) bit(25 - i).setValue(kAddressBits[i]);
    bit(16).setValue(number == 2 ? 1 : 0);
    bit(15).setValue(0);
    bit(14).setValue(0);
    ch.display.setText(controls::DecimalText(ch.code.Value()));
    InputCode = ch.code.Value();
    showChannel(ch.digit);
    frame::Set_Data_Bits(controls_, InputCode);
    FrameWord = static_cast<std::uint32_t>(InputCode) | variant_.channelWord(number);
    Read_Write_Bits_to_Parallel_Port();
}

void ProgramA::preset(int code) {
    const bool mid = code == 128;
    const int fill = code == 255 ? 1 : 0;
    for (int k : {24, 22, 21}) bit(k).setValue(1);
    if (mid) bit(7).setValue(1);
    for (int k : {24, 22, 21}) bitText(k).setText("1");
    if (mid) bitText(7).setText("1");
    for (int i = 0; i <= (mid ? 6 : 7); ++i) {
        bit(i).setValue(fill);
        bitText(i).setText(fill != 0 ? "1" : "0");
    }
    // The channel select bit is read twice: the first branch's Change handler
    // runs inside the assignment and may leave it changed for the second.
    if (bit(16).Value() == 0) controls_.vsbInputCode1.setValue(code);
    if (bit(16).Value() == 1) controls_.vsbInputCode2.setValue(code);
    cmdRun_Click();
}

void ProgramA::Read_Write_Bits_to_Parallel_Port() {
    writeFrame();
    cmdRead_Click();
}

void ProgramA::cmdRead_Click() {
    const int top = variant_.readAddressTop;  // 43: address 43..36, acknowledge 35
    for (std::size_t i = 0; i < bus::kReadBackAddress.size(); ++i) bit(top - static_cast<int>(i)).setValue(bus::kReadBackAddress[i]);
    for (std::size_t i = 0; i < bus::kReadBackAddress.size(); ++i) {
        bitText(top - static_cast<int>(i)).setText(bus::kReadBackAddress[i] != 0 ? "1" : "0");
    }
    const int value = bus::readBack(port_, variant_.frame.codes, readAddress()) & 0xFF;
    controls_.txtSDA_Data.setText(controls::DecimalText(value));
    const int low = variant_.readDataLow;  // 27: data byte 34..27
    for (int k = low; k < low + 8; ++k) bit(k).setValue(0);
    for (int k = low, q = value; k < low + 8; ++k, q /= 2) {
        if (q % 2 == 1) {
            bit(k).setValue(1);
            bitText(k).setText("1");
        } else {
            bitText(k).setText("0");
        }
    }
    bit(44).setValue(1);  // the acknowledge after the data byte, shown as given
    bitText(44).setText("1");
}

}  // namespace commands
