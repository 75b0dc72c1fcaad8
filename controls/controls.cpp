// The controls model: change semantics of scroll bars and text boxes.
#include "controls/controls.h"

#include <stdexcept>

namespace controls {

std::string_view nameOf(Name name) {
    switch (name) {
        case Name::vsbBit: return "vsbBit";
        case Name::txtBit: return "txtBit";
        case Name::vsbInputCode1: return "vsbInputCode1";
        case Name::vsbInputCode2: return "vsbInputCode2";
        case Name::txtDisplay1: return "txtDisplay1";
        case Name::txtDisplay2: return "txtDisplay2";
        case Name::txtCh_Write_Display: return "txtCh_Write_Display";
        case Name::txtCh_Read_Display: return "txtCh_Read_Display";
        case Name::txtSDA_Write: return "txtSDA_Write";
        case Name::txtSDA_Data: return "txtSDA_Data";
    }
    return "?";
}

std::string describe(ControlId id) {
    std::string text(nameOf(id.name));
    if (id.name == Name::vsbBit || id.name == Name::txtBit) {
        text += '(';
        text += DecimalText(id.index).str();
        text += ')';
    }
    return text;
}

std::optional<ControlId> controlNamed(std::string_view name, int index) {
    for (Name n : {Name::vsbBit, Name::txtBit, Name::vsbInputCode1, Name::vsbInputCode2, Name::txtDisplay1,
                   Name::txtDisplay2, Name::txtCh_Write_Display, Name::txtCh_Read_Display, Name::txtSDA_Write,
                   Name::txtSDA_Data}) {
        if (nameOf(n) != name) continue;
        const bool array = n == Name::vsbBit || n == Name::txtBit;
        if (array ? (index < 0 || index >= kBitCount) : index >= 0) return std::nullopt;
        return ControlId{n, array ? index : 0};
    }
    return std::nullopt;
}

void ScrollBar::setValue(int value) {
    if (value < min_ || value > max_) {
        throw std::out_of_range(describe(id_) + ": value " + DecimalText(value).str() + " outside " +
                                DecimalText(min_).str() + ".." + DecimalText(max_).str());
    }
    if (value == value_) return;
    value_ = value;
    if (observer_ != nullptr) observer_->valueChanged(id_, value_);
    if (change_) change_();
}

void TextBox::setText(std::string_view text) {
    if (written_ && !edited_ && text == text_) return;
    written_ = true;
    edited_ = false;
    text_.assign(text);
    if (observer_ != nullptr) observer_->textChanged(id_, text_);
}

Controls::Controls() {
    for (int k = 0; k < kBitCount; ++k) {
        vsbBit[static_cast<std::size_t>(k)].id_ = {Name::vsbBit, k};
        txtBit[static_cast<std::size_t>(k)].id_ = {Name::txtBit, k};
    }
    vsbInputCode1.id_ = {Name::vsbInputCode1, 0};
    vsbInputCode1.max_ = 255;
    vsbInputCode2.id_ = {Name::vsbInputCode2, 0};
    vsbInputCode2.max_ = 255;
    txtDisplay1.id_ = {Name::txtDisplay1, 0};
    txtDisplay2.id_ = {Name::txtDisplay2, 0};
    txtCh_Write_Display.id_ = {Name::txtCh_Write_Display, 0};
    txtCh_Read_Display.id_ = {Name::txtCh_Read_Display, 0};
    txtSDA_Write.id_ = {Name::txtSDA_Write, 0};
    txtSDA_Data.id_ = {Name::txtSDA_Data, 0};
}

ScrollBar& Controls::scrollBar(ControlId id) {
    switch (id.name) {
        case Name::vsbBit: return vsbBit.at(static_cast<std::size_t>(id.index));
        case Name::vsbInputCode1: return vsbInputCode1;
        case Name::vsbInputCode2: return vsbInputCode2;
        default: throw std::invalid_argument(describe(id) + " is not a scroll bar");
    }
}

TextBox& Controls::textBox(ControlId id) {
    switch (id.name) {
        case Name::txtBit: return txtBit.at(static_cast<std::size_t>(id.index));
        case Name::txtDisplay1: return txtDisplay1;
        case Name::txtDisplay2: return txtDisplay2;
        case Name::txtCh_Write_Display: return txtCh_Write_Display;
        case Name::txtCh_Read_Display: return txtCh_Read_Display;
        case Name::txtSDA_Write: return txtSDA_Write;
        case Name::txtSDA_Data: return txtSDA_Data;
        default: throw std::invalid_argument(describe(id) + " is not a text box");
    }
}

void Controls::setObserver(ControlObserver* observer) {
    forEachScrollBar([observer](ScrollBar& bar) { bar.observer_ = observer; });
    forEachTextBox([observer](TextBox& box) { box.observer_ = observer; });
}

}  // namespace controls
