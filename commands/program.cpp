// Handlers shared by both programs and the wiring of the controls' Change events.
#include "commands/program.h"

#include "bus/transactions.h"
#include "frame/panel.h"

namespace commands {

std::string describe(const Delivery& delivery) {
    switch (delivery.kind) {
        case Delivery::Kind::NotSent: return "not sent";
        case Delivery::Kind::ReadBackFailed: return "written; read-back failed";
        case Delivery::Kind::Written: return "written";
        case Delivery::Kind::CutShort: break;
    }
    return "cut short after " + std::to_string(delivery.writes) + " of " + std::to_string(delivery.of) + " writes";
}

std::string_view mark(const Delivery& delivery) {
    switch (delivery.kind) {
        case Delivery::Kind::NotSent: return "not sent";
        case Delivery::Kind::ReadBackFailed: return "read-back failed";
        case Delivery::Kind::Written: return "not acknowledged";
        case Delivery::Kind::CutShort: break;
    }
    return "cut short";
}

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

void Program::begin(bool readBack, int writes) { transfer_ = {readBack, port_.accesses, port_.writes, writes}; }

void Program::writeFrame() {
    begin(false, bus::frameWrites(variant_.frame));
    bus::writeFrame(port_, variant_.frame, FrameWord, checkAck_ ? variant_.deviceAckSlots() : 0);
    frameWhole_ = true;
}

void Program::writeShutdown() {
    begin(false, 1);
    port_.OutportW(bus::kDataRegister, bus::kShutdownCode);
}

bus::Recovery Program::recover() {
    begin(false, bus::kRecoveryWrites);
    return bus::recoverBus(port_, variant_.frame.codes);
}

void Program::beginAction() {
    actionStart_ = port_.accesses;
    frameWhole_ = false;
    transfer_ = {};
}

Delivery Program::delivery(const bus::PortError& error) const {
    // A transaction the backend held back never reached the wires, whatever
    // of it the port had taken; nor did the writes of a batch that failed.
    if (error.whole()) return {Delivery::Kind::Written};
    const std::uint64_t taken = port_.writes - transfer_.firstWrite;
    const bool heldBack = error.heldBack() || (error.unsent() > 0 && error.unsent() >= taken);
    const std::uint64_t reached = heldBack ? transfer_.firstAccess : port_.accesses;
    if (reached == actionStart_) return {};
    if (transfer_.readBack && frameWhole_) return {Delivery::Kind::ReadBackFailed};
    const std::uint64_t writes = heldBack ? 0 : taken - error.unsent();
    return {Delivery::Kind::CutShort, static_cast<int>(writes), transfer_.writes};
}

void Program::setReadAddress() {
    const bus::ReadAddress address = readBackAddress();
    for (std::size_t i = 0; i < address.size(); ++i) {
        bit(variant_.readAddressTop - static_cast<int>(i)).setValue(address[i]);
    }
}

std::uint32_t Program::channelWord(int channel) const {
    const int low = variant_.addressTop - 7;
    return (variant_.channelWord(channel) & ~(std::uint32_t{0xFF} << low)) | (std::uint32_t{writeAddressByte()} << low);
}

int Program::readFromDevice() {
    begin(true, bus::kReadBackWrites);
    lastRead_ = bus::readBack(port_, variant_.frame.codes, readAddress(), checkAck_) & 0xFF;
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
