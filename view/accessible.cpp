// Names and descriptions, derived from the frame layout where the control is a
// bit, so that they follow each program's positions.
#include "view/accessible.h"

namespace view {
namespace {

// "A3": appended, since GCC 12 warns falsely (-Wrestrict) on "A" + text at -O3.
std::string numbered(std::string name, int n) { return name.append(std::to_string(n)); }

// A bit of an address byte (A6..A0 and the read/write bit), of the instruction
// byte (I7 selects the channel), of a data byte, or an acknowledge slot.
std::string fieldOf(int k, int addressTop, int addressAck, int instructionTop, int instructionAck, int dataLow) {
    if (k <= addressTop && k > addressTop - 8) {
        const int b = k - (addressTop - 7);
        return b == 0 ? "R/W" : numbered("A", b - 1);
    }
    if (k == addressAck) return "address acknowledge";
    if (instructionTop >= 0 && k <= instructionTop && k > instructionTop - 8) {
        const int b = k - (instructionTop - 7);
        return b == 7 ? "channel select" : numbered("I", b);
    }
    if (instructionAck >= 0 && k == instructionAck) return "instruction acknowledge";
    if (k >= dataLow && k < dataLow + 8) return numbered("D", k - dataLow);
    return "data acknowledge";
}

std::string bitName(const frame::Variant& v, int k) {
    if (k < controls::kWriteRowBits) {
        return "Write bit " + std::to_string(k) + " (" +
               fieldOf(k, v.addressTop, v.addressTop - 8, v.channelSelect, v.dataShift + 8, v.dataShift) + ")";
    }
    return "Read bit " + std::to_string(k) + " (" +
           fieldOf(k, v.readAddressTop, v.readAddressTop - 8, -1, -1, v.readDataLow) + ")";
}

// "\"Mid Scale\": code 128 on the selected channel" -> "Code 128 on the selected channel".
std::string sentence(std::string_view help) {
    std::string text = commands::helpParts(help).text;
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

struct Display {
    const char* control;
    const char* name;
    const char* description;
};

constexpr Display kDisplays[] = {
    {"txtDisplay1", "Channel 1 code shown", "The code last entered for channel 1"},
    {"txtDisplay2", "Channel 2 code shown", "The code last entered for channel 2"},
    {"txtCh_Write_Display", "Channel selected", "The channel the codes and presets go to"},
    {"txtSDA_Write", "Data wrote", "The data byte the bit panel holds"},
    {"txtCh_Read_Display", "Channel selected, read row", "The channel the codes and presets go to"},
    {"txtSDA_Data", "Data read", "The byte the last read-back read from the device"},
};

}  // namespace

AccessibleText accessibleText(const commands::Descriptor& program, const ControlSpec& c) {
    const frame::Variant& v = program.variant;
    if (c.name == "vsbBit") {
        const bool write = c.index < controls::kWriteRowBits;
        const bool slot = write && (v.ackMask() >> c.index & 1U) != 0;
        return {bitName(v, c.index),
                slot ? "An acknowledge slot of the write frame: it goes back to 0"
                     : write ? "One bit of the frame Run sends: 0 at the top, 1 at the bottom"
                             : "One bit of the last read-back"};
    }
    if (c.name == "txtBit") return {bitName(v, c.index) + " as text", "Shows the bit above it"};
    if (c.name == "vsbInputCode1" || c.name == "vsbInputCode2") {
        const char digit = c.name.back();
        return {std::string("Channel ") + digit + " code",
                std::string("Moving it sends channel ") + digit +
                    "'s code, 0 to 255, to the device at once; arrows and Page Up/Down step by one, Home and End go "
                    "to the ends"};
    }
    for (const Display& d : kDisplays) {
        if (c.name == d.control) return {d.name, d.description};
    }
    if (c.kind == Kind::Button) {
        std::string caption = c.caption;
        std::erase(caption, '&');
        const commands::Command* command = program.find(c.name);
        return {caption, command != nullptr && !command->help.empty() ? sentence(command->help) : "Ends the program"};
    }
    return {};
}

}  // namespace view
