// Handlers shared by both programs and the wiring of the controls' Change events.
#include "commands/program.h"

#include "bus/transactions.h"
#include "frame/panel.h"

namespace commands {

Program::Program(const frame::Variant& variant, bus::Port& port) : variant_(variant), port_(port) {
    frame::bindPanel(controls_, variant_);
    controls_.vsbInputCode1.setChangeHandler([this] { vsbInputCode1_Change(); });
    controls_.vsbInputCode2.setChangeHandler([this] { vsbInputCode2_Change(); });
}

Program::Channel Program::channel(int number) {
    if (number == 2) return {controls_.vsbInputCode2, controls_.txtDisplay2, "2"};
    return {controls_.vsbInputCode1, controls_.txtDisplay1, "1"};
}

void Program::showChannel(std::string_view digit) {
    controls_.txtCh_Write_Display.setText(digit);
    controls_.txtCh_Read_Display.setText(digit);
}

void Program::selectChannel(int number) {
    bit(variant_.channelSelect).setValue(number == 2 ? 1 : 0);
    showChannel(channel(number).digit);
}

void Program::cmdRun_Click() {
    frame::Compute_Frame_Word(controls_, variant_, InputCode, FrameWord);
    Read_Write_Bits_to_Parallel_Port();
}

void Program::cmdExit_Click() {
    if (exit_) exit_();
}

void Program::writeFrame() { bus::writeFrame(port_, variant_.frame, FrameWord); }

void Program::setReadAddress() {
    for (std::size_t i = 0; i < bus::kReadBackAddress.size(); ++i) {
        bit(variant_.readAddressTop - static_cast<int>(i)).setValue(bus::kReadBackAddress[i]);
    }
}

int Program::readFromDevice() {
    lastRead_ = bus::readBack(port_, variant_.frame.codes, readAddress()) & 0xFF;
    ++readBacks_;
    return lastRead_;
}

bus::ReadAddress Program::readAddress() {
    bus::ReadAddress address{};
    for (std::size_t i = 0; i < address.size(); ++i) {
        address[i] = bit(variant_.readAddressTop - static_cast<int>(i)).Value();
    }
    return address;
}

}  // namespace commands
