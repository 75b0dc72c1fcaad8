#include "view/window_text.h"

#include "controls/controls.h"

#include <algorithm>
#include <stdexcept>

namespace view {

std::string deliverySentence(const commands::Delivery& delivery) {
    switch (delivery.kind) {
        case commands::Delivery::Kind::NotSent: return "its frame was not sent";
        case commands::Delivery::Kind::ReadBackFailed: return "its frame was written; the read-back failed";
        case commands::Delivery::Kind::CutShort:
            return "it was cut short after " + std::to_string(delivery.writes) + " of " + std::to_string(delivery.of) +
                   " writes";
        case commands::Delivery::Kind::Written: return "its frame was written whole; the device did not take it";
    }
    return {};
}

std::string failureText(std::string_view action, const commands::Delivery& delivery) {
    // A bar by its place and value reads as a sentence of its own:
    // "The channel 1 code bar, at 1, stopped ...".
    std::string subject(action);
    if (subject.rfind("the ", 0) == 0 && subject.find(", at ") != std::string::npos) {
        subject[0] = 'T';
        subject += ',';
    }
    return subject + " stopped at the failing port access: " + deliverySentence(delivery) +
           ". The next action tries the port again.";
}

std::string windowTitle(std::string_view caption, std::string_view port, std::string_view mark) {
    std::string title(caption);
    if (!port.empty()) title.append(" \u2014 ").append(port);
    if (!mark.empty()) title.append(" \u2014 ").append(mark);
    return title;
}

std::string failureTitle(std::string_view caption) { return std::string(caption) + " \u2014 port error"; }

ControlBinding bindingFor(const commands::Descriptor& program, const ControlSpec& c) {
    ControlBinding binding;
    if (c.kind == Kind::Button) {
        binding.command = program.find(c.name);
        if (binding.command == nullptr) throw std::logic_error("no command for button " + c.name);
        binding.shown = c.caption;
        binding.shown.erase(std::remove(binding.shown.begin(), binding.shown.end(), '&'), binding.shown.end());
        return binding;
    }
    if (c.kind != Kind::ScrollBar && c.kind != Kind::TextBox) return binding;
    binding.model = controls::controlNamed(c.name, c.index);
    if (!binding.model) throw std::logic_error("no model control for " + c.fullName());
    // A code bar's Change is a command of its own; a bit bar's is the panel's.
    if (c.kind == Kind::ScrollBar) binding.command = program.find(controls::nameOf(binding.model->name));
    return binding;
}

ChangeNames changeNames(const ControlBinding& bar, int value) {
    if (bar.command != nullptr) return {commands::valueLabel(*bar.command, value), commands::valueCaption(*bar.command, value)};
    return {commands::bitLabel(bar.model->index, value), commands::bitCaption(bar.model->index, value)};
}

std::vector<ControlRef> tabOrder(const WindowSpec& window) {
    std::vector<ControlRef> order;
    for (const char* name : {"vsbInputCode1", "vsbInputCode2", "cmdCh1", "cmdCh2", "cmdZS", "cmdMS", "cmdFS", "cmdRun",
                             "cmdRead", "cmdSHDN", "cmdExit"}) {
        if (window.find(name) != nullptr) order.push_back({name, -1});
    }
    for (const bool writeRow : {true, false}) {
        std::vector<const ControlSpec*> row;
        for (const ControlSpec& c : window.controls) {
            if (c.name == "vsbBit" && (c.index < controls::kWriteRowBits) == writeRow) row.push_back(&c);
        }
        std::stable_sort(row.begin(), row.end(), [](const ControlSpec* a, const ControlSpec* b) { return a->left < b->left; });
        for (const ControlSpec* c : row) order.push_back({c->name, c->index});
    }
    return order;
}

}  // namespace view
