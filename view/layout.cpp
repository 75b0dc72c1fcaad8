// The two windows' tables. Bit columns are listed once as (index, left, caption)
// and expanded into their scroll bar, text box and number label.
#include "view/layout.h"

#include <initializer_list>
#include <stdexcept>

namespace view {
namespace {

struct Column {
    int k;
    int left;
    const char* caption;
    int label = -1;      // the lblBit index above the column, when it is not k
    int labelLeft = -1;  // when it is not the column's left
};

struct Row {
    int barTop, boxTop, labelTop;
};

const Look kNumberLabel{std::nullopt, kWindowYellow, false, 0, false, Align::Center, false};
const Look kPlainLabel{std::nullopt, kWindowYellow, false, 0, false, Align::Left, false};
const Look kCentredLabel{std::nullopt, kWindowYellow, false, 0, false, Align::Center, false};
const Look kGroupTitle{kBlue, kWindowYellow, false, 9.75, true, Align::Left, false};
const Look kCodeDisplay{kRed, std::nullopt, true, 0, false, Align::Center, false};
const Look kBigDisplay{kBlue, std::nullopt, false, 13.5, false, Align::Center, false};
Look face(Rgb colour, double points, bool bold) { return Look{std::nullopt, colour, false, points, bold, Align::Center, false}; }

void addColumns(std::vector<ControlSpec>& out, const Row& row, std::initializer_list<Column> columns) {
    for (const auto& c : columns) {
        out.push_back({"vsbBit", c.k, Kind::ScrollBar, "", "", c.left, row.barTop, 250, 1215, {}, 1});
        out.push_back({"txtBit", c.k, Kind::TextBox, "", "", c.left, row.boxTop, 250, 495, {}});
        out.push_back({"lblBit", c.label < 0 ? c.k : c.label, Kind::Label, c.caption, "",
                       c.labelLeft < 0 ? c.left : c.labelLeft, row.labelTop, 300, 495, kNumberLabel, 0, false,
                       "vsbBit", c.k});
    }
}

// Which control each label describes: (label, index, control, index).
struct Describes {
    const char* label;
    int index;
    const char* control;
    int controlIndex;
};

void describes(std::vector<ControlSpec>& out, std::initializer_list<Describes> table);

ControlSpec& at(std::vector<ControlSpec>& controls, const char* name, int index) {
    for (auto& c : controls) {
        if (c.name == name && c.index == index) return c;
    }
    throw std::logic_error(std::string("layout table has no ") + name + "(" + std::to_string(index) + ")");
}

void describes(std::vector<ControlSpec>& out, std::initializer_list<Describes> table) {
    for (const auto& d : table) {
        ControlSpec& label = at(out, d.label, d.index);
        label.describes = d.control;
        label.describesIndex = d.controlIndex;
    }
}

void label(std::vector<ControlSpec>& out, const char* name, int index, const char* caption, int left, int top,
           int width, int height, const Look& look = kPlainLabel) {
    out.push_back({name, index, Kind::Label, caption, "", left, top, width, height, look});
}

void button(std::vector<ControlSpec>& out, const char* name, const char* caption, const char* tip, int left, int top,
            int width, int height, const Look& look) {
    out.push_back({name, -1, Kind::Button, caption, tip, left, top, width, height, look});
}

void box(std::vector<ControlSpec>& out, const char* name, int left, int top, int width, int height, const Look& look) {
    out.push_back({name, -1, Kind::TextBox, "", "", left, top, width, height, look});
}

void rectangle(std::vector<ControlSpec>& out, const char* name, int left, int top, int width, int height,
               bool hidden = false) {
    out.push_back({name, -1, Kind::Rectangle, "", "", left, top, width, height, {}, 0, hidden});
}

void codeControls(std::vector<ControlSpec>& out, int left1, int left2, int width2) {
    box(out, "txtDisplay1", left1, 360, 555, 396, kCodeDisplay);
    box(out, "txtDisplay2", left2, 360, width2, 396, kCodeDisplay);
    out.push_back({"vsbInputCode1", -1, Kind::ScrollBar, "", "", left1, 720, 495, 1815, {}, 255});
    out.push_back({"vsbInputCode2", -1, Kind::ScrollBar, "", "", left2, 720, 495, 1815, {}, 255});
}

void presets(std::vector<ControlSpec>& out, const char* tip) {
    const Look look = face({192, 255, 192}, 0, false);
    button(out, "cmdZS", "Zero Scale", tip, 120, 3000, 615, 495, look);
    button(out, "cmdMS", "Mid Scale", tip, 720, 3000, 615, 495, look);
    button(out, "cmdFS", "Full Scale", tip, 1320, 3000, 615, 495, look);
}

}  // namespace

const ControlSpec* WindowSpec::find(const std::string& controlName, int index) const {
    for (const auto& c : controls) {
        if (c.name == controlName && c.index == index) return &c;
    }
    return nullptr;
}

WindowSpec windowA() {
    WindowSpec w{std::string(commands::kDescriptorA.windowName), std::string(commands::kDescriptorA.caption), 11190, 7350, kWindowYellow, {}};
    auto& out = w.controls;
    rectangle(out, "Shape3", 0, 240, 2055, 3375);
    rectangle(out, "Shape1", 2160, 240, 8535, 3360);
    rectangle(out, "Shape4", 2160, 3960, 5775, 3240);

    addColumns(out, {570, 1845, 360},
               {{25, 2325, "25"}, {24, 2595, "24"}, {23, 2880, "23"}, {22, 3165, "22"}, {21, 3435, "21"},
                {20, 3720, "20"}, {19, 4005, "19"}, {18, 4275, "18"}, {17, 4680, "17"}, {16, 5085, "16"},
                {15, 5400, "15"}, {14, 5640, "14"}, {13, 5880, "13"}, {12, 6165, "12"}, {11, 6435, "11"},
                {10, 6720, "10"}, {9, 7005, "9"}, {8, 7395, "8"}, {7, 7800, "7"}, {6, 8085, "6"}, {5, 8355, "5"},
                {4, 8640, "4"}, {3, 8925, "3"}, {2, 9195, "2"}, {1, 9480, "1"}, {0, 9765, "0"}, {26, 10215, ""}});
    at(out, "txtBit", 15).left = 5325;
    at(out, "txtBit", 14).left = 5595;
    at(out, "vsbBit", 16).width = 255;
    at(out, "vsbBit", 26).width = 240;

    addColumns(out, {4290, 5565, 4080},
               {{43, 2280, "16"}, {42, 2595, "15"}, {41, 2835, "14"}, {40, 3075, "13"}, {39, 3360, "12"},
                {38, 3630, "11"}, {37, 3915, "10"}, {36, 4200, "9"}, {35, 4710, "8"}, {34, 5115, "7"},
                {33, 5400, "6"}, {32, 5670, "5"}, {31, 5955, "4"}, {30, 6240, "3"}, {29, 6510, "2"},
                {28, 6795, "1"}, {27, 7080, "0"}, {44, 7560, ""}});
    at(out, "txtBit", 42).left = 2520;
    at(out, "txtBit", 41).left = 2790;
    at(out, "txtBit", 38).left = 3600;
    at(out, "txtBit", 29).left = 6480;
    at(out, "vsbBit", 43).width = 255;
    at(out, "txtBit", 42).width = 255;
    at(out, "txtBit", 39).width = 255;

    label(out, "cmdSlave_Address_Byte", -1, "Slave Address Byte", 2760, 2400, 1575, 195);
    label(out, "lblA1", -1, "A", 4680, 2400, 255, 195);
    label(out, "lblInstruction_Byte", -1, "Instruction Byte", 5520, 2400, 1335, 195);
    label(out, "Label1", -1, "A", 7440, 2400, 255, 195);
    label(out, "lblData_Byte", -1, "Data Byte", 8520, 2400, 855, 195);
    label(out, "Label2", -1, "A", 10200, 2400, 255, 195);

    label(out, "Label5", -1, "Slave Address Byte", 2640, 6120, 1575, 195);
    label(out, "Label4", -1, "Data Byte", 5760, 6120, 855, 195);
    label(out, "lblBit", 53, "A", 4680, 6120, 300, 255, kNumberLabel);
    label(out, "lblBit", 62, "A", 7560, 6120, 300, 255, kNumberLabel);
    // A row of index captions under the read row that is never shown.
    for (int i = 0; i < 8; ++i) {
        for (int half = 0; half < 2; ++half) {
            const int index = (half == 0 ? 45 : 54) + i;
            const int column = (half == 0 ? 43 : 34) - i;
            out.push_back({"lblBit", index, Kind::Label, std::to_string(column), "", at(out, "vsbBit", column).left,
                           6120, 300, 255, kNumberLabel, 0, true, "vsbBit", column});
        }
    }

    label(out, "Label3", -1, "SDA Write", 120, 0, 1845, 300, kGroupTitle);
    codeControls(out, 360, 1200, 525);
    const Look channelFace = face({255, 192, 192}, 9.75, true);
    button(out, "cmdCh1", "Ch1", "", 240, 2640, 735, 255, channelFace);
    button(out, "cmdCh2", "Ch2", "", 1080, 2640, 735, 255, channelFace);
    presets(out, "Run to execute");
    label(out, "lblBlSDA_Write", -1, "SDA Write/Read Bit Control (Hit Run) / SDA Write Bit Indicator", 2160, 0, 6885,
          300, kGroupTitle);
    label(out, "Label7", -1, "Channel Selected", 4680, 2760, 1635, 195, kCentredLabel);
    box(out, "txtCh_Write_Display", 5160, 3000, 855, 495, kBigDisplay);
    label(out, "lblWrite", -1, "Data Wrote", 6600, 2760, 1155, 285, kCentredLabel);
    box(out, "txtSDA_Write", 6720, 3000, 855, 495, kBigDisplay);
    button(out, "cmdRun", "R&un", "Run to execute", 8400, 2880, 1215, 495, face({128, 255, 128}, 12, true));
    label(out, "Label6", -1, "SDA Read Bit Indicator", 2280, 3720, 2805, 300, kGroupTitle);
    button(out, "cmdRead", "&Read", "Run to execute", 8760, 3960, 1215, 495, face({192, 255, 255}, 12, true));
    label(out, "Label8", -1, "For scope monitor only", 8400, 4560, 2055, 495);
    button(out, "cmdExit", "E&xit", "Exit the program", 8760, 5280, 1215, 495, face({255, 128, 128}, 12, true));
    label(out, "Label10", -1, "Channel Selected", 4440, 6360, 1635, 195, kCentredLabel);
    box(out, "txtCh_Read_Display", 4920, 6600, 855, 495, kBigDisplay);
    label(out, "lblSDA_Data", -1, "Data Read", 6120, 6360, 1155, 285, kCentredLabel);
    box(out, "txtSDA_Data", 6240, 6600, 855, 495, kBigDisplay);
    label(out, "Label9", -1, "Note: This Program Defaults ADO and AD1 to 0. Tie AD0 and AD1 to GND", 8160, 6480, 2535,
          735, Look{std::nullopt, Rgb{192, 192, 255}, false, 0, false, Align::Left, true});
    describes(out, {{"Label3", -1, "vsbInputCode1", -1},     {"lblBlSDA_Write", -1, "vsbBit", 25},
                    {"cmdSlave_Address_Byte", -1, "vsbBit", 25}, {"lblA1", -1, "vsbBit", 17},
                    {"lblInstruction_Byte", -1, "vsbBit", 16}, {"Label1", -1, "vsbBit", 8},
                    {"lblData_Byte", -1, "vsbBit", 7},         {"Label2", -1, "vsbBit", 26},
                    {"Label7", -1, "txtCh_Write_Display", -1}, {"lblWrite", -1, "txtSDA_Write", -1},
                    {"Label6", -1, "vsbBit", 43},              {"Label5", -1, "vsbBit", 43},
                    {"Label4", -1, "vsbBit", 34},              {"lblBit", 53, "vsbBit", 35},
                    {"lblBit", 62, "vsbBit", 44},              {"Label8", -1, "cmdRead", -1},
                    {"Label10", -1, "txtCh_Read_Display", -1}, {"lblSDA_Data", -1, "txtSDA_Data", -1},
                    {"Label9", -1, "vsbBit", 19}});  // the note is about the address pins AD0, AD1
    return w;
}

WindowSpec windowB() {
    WindowSpec w{std::string(commands::kDescriptorB.windowName), std::string(commands::kDescriptorB.caption), 10800, 7410, kWindowYellow, {}};
    auto& out = w.controls;
    rectangle(out, "Shape3", 0, 0, 2055, 3735);
    rectangle(out, "Shape4", 2280, 3960, 5775, 3225);
    rectangle(out, "Shape1", 1440, 7560, 6615, 3375, true);  // wholly below the client area

    // Labels without captions that lie behind other controls; added first, so beneath.
    label(out, "lblBit", 26, "", 10095, 840, 300, 495, kNumberLabel);
    label(out, "lblBit", 44, "", 7440, 4080, 300, 495, kNumberLabel);

    addColumns(out, {690, 1965, 480},
               {{26, 2400, "24", 999}, {25, 2640, "23"}, {24, 2895, "22"}, {23, 3150, "21"}, {22, 3390, "20"},
                {21, 3645, "19"}, {20, 3900, "18"}, {19, 4140, "17"}, {18, 4650, "A3"}, {17, 5145, "16"},
                {16, 5385, "15"}, {15, 5640, "14"}, {14, 5895, "13"}, {13, 6135, "12"}, {12, 6390, "11"},
                {11, 6645, "10"}, {10, 6885, "9"}, {9, 7395, "A2"}, {8, 7890, "8"}, {7, 8145, "7"}, {6, 8385, "6"},
                {5, 8640, "5"}, {4, 8895, "4"}, {3, 9135, "3"}, {2, 9390, "2"}, {1, 9645, "1"}, {0, 10095, "A1"}});
    at(out, "vsbBit", 26).width = 255;
    at(out, "vsbBit", 17).width = 255;
    at(out, "vsbBit", 0).width = 240;
    at(out, "txtBit", 2).width = 255;

    addColumns(out, {4290, 5565, 4080},
               {{44, 2500, "16", 998, 2520}, {43, 2750, "15"}, {42, 3000, "14"}, {41, 3250, "13"}, {40, 3500, "12"},
                {39, 3750, "11"}, {38, 4000, "10"}, {37, 4250, "9"}, {36, 4750, "A2"}, {35, 5250, "7"},
                {34, 5500, "6"}, {33, 5750, "5"}, {32, 6000, "4"}, {31, 6250, "3"}, {30, 6500, "2"},
                {29, 6750, "1"}, {28, 7000, "0"}, {27, 7450, "A1"}});
    at(out, "vsbBit", 36).top = 4320;
    at(out, "vsbBit", 44).width = 255;
    at(out, "txtBit", 40).width = 255;

    label(out, "cmdSlave_Address_Byte", 1, "Slave Address Byte", 2655, 2520, 1575, 315);
    label(out, "Label1", 1, "A", 4710, 2520, 255, 195);
    label(out, "cmdSlave_Address_Byte", 0, "Instruction Byte", 5400, 2520, 1575, 315);
    label(out, "Label1", 0, "A", 7455, 2520, 255, 195);
    label(out, "lblData_Byte", -1, "Data Byte", 8520, 2520, 855, 195);
    label(out, "Label2", -1, "A", 10185, 2520, 255, 195);
    label(out, "Label5", -1, "Slave Address Byte", 2760, 6120, 1575, 195);
    label(out, "Label4", -1, "Data Byte", 5880, 6120, 855, 195);

    label(out, "Label3", -1, "SDA Write", 480, 0, 1845, 300, kGroupTitle);
    codeControls(out, 240, 1080, 555);
    const Look channelFace = face({255, 192, 192}, 9.75, true);
    button(out, "cmdCh1", "Ch1", "", 120, 2640, 735, 255, channelFace);
    button(out, "cmdCh2", "Ch2", "", 1080, 2640, 735, 255, channelFace);
    presets(out, "");
    label(out, "lblBlSDA_Write", -1, "SDA Write Control (Hit Run)", 2160, 0, 6885, 300, kGroupTitle);
    box(out, "txtCh_Write_Display", 2520, 3000, 855, 495, kBigDisplay);
    label(out, "Label7", -1, "Channel Selected", 3360, 3120, 1635, 195, kCentredLabel);
    box(out, "txtSDA_Write", 5160, 3000, 855, 495, kBigDisplay);
    label(out, "lblWrite", -1, "Data Wrote", 6000, 3120, 1155, 285, kCentredLabel);
    button(out, "cmdRun", "R&un", "Run to execute", 7320, 3000, 1215, 495, face({128, 255, 128}, 12, true));
    button(out, "cmdSHDN", "/SHDN", "Shutdown mode", 9000, 3000, 1095, 495, face({255, 192, 128}, 12, true));
    label(out, "Label6", -1, "SDA Read Bit Indicator (Hit Read)", 2280, 3720, 3765, 300, kGroupTitle);
    button(out, "cmdRead", "&Read", "Read back setting", 8520, 4920, 1215, 495, face({192, 255, 255}, 12, true));
    label(out, "Label8", -1, "For scope monitor only", 8520, 5520, 2055, 495);
    box(out, "txtCh_Read_Display", 2520, 6600, 855, 495, kBigDisplay);
    label(out, "Label10", -1, "Channel Selected", 3360, 6720, 1635, 195, kCentredLabel);
    box(out, "txtSDA_Data", 5280, 6600, 855, 495, kBigDisplay);
    label(out, "lblSDA_Data", -1, "Data Read", 6240, 6720, 1155, 285, kCentredLabel);
    button(out, "cmdExit", "E&xit", "Exit the program", 8520, 6720, 1215, 495, face({255, 128, 128}, 12, true));
    describes(out, {{"lblBit", 26, "vsbBit", 0},                {"lblBit", 44, "vsbBit", 27},
                    {"Label3", -1, "vsbInputCode1", -1},        {"lblBlSDA_Write", -1, "vsbBit", 26},
                    {"cmdSlave_Address_Byte", 1, "vsbBit", 26}, {"Label1", 1, "vsbBit", 18},
                    {"cmdSlave_Address_Byte", 0, "vsbBit", 17}, {"Label1", 0, "vsbBit", 9},
                    {"lblData_Byte", -1, "vsbBit", 8},          {"Label2", -1, "vsbBit", 0},
                    {"Label7", -1, "txtCh_Write_Display", -1},  {"lblWrite", -1, "txtSDA_Write", -1},
                    {"Label6", -1, "vsbBit", 44},               {"Label5", -1, "vsbBit", 44},
                    {"Label4", -1, "vsbBit", 35},               {"Label8", -1, "cmdRead", -1},
                    {"Label10", -1, "txtCh_Read_Display", -1},  {"lblSDA_Data", -1, "txtSDA_Data", -1}});
    return w;
}

int toPixels(int twips, double pixelsPerTwip) { return static_cast<int>(twips * pixelsPerTwip + 0.5); }

PixelRect toPixels(const ControlSpec& c, double pixelsPerTwip) {
    const int left = toPixels(c.left, pixelsPerTwip);
    const int top = toPixels(c.top, pixelsPerTwip);
    return {left, top, toPixels(c.left + c.width, pixelsPerTwip) - left, toPixels(c.top + c.height, pixelsPerTwip) - top};
}

WindowSpec windowFor(const commands::Descriptor& program) {
    struct Entry {
        const commands::Descriptor* program;
        WindowSpec (*make)();
    };
    static constexpr Entry kWindows[] = {{&commands::kDescriptorA, windowA}, {&commands::kDescriptorB, windowB}};
    for (const auto& entry : kWindows) {
        if (entry.program == &program) return entry.make();
    }
    throw std::logic_error("no window table for " + std::string(program.executable));
}

}  // namespace view
