#include "view/window_state.h"

#include <algorithm>
#include <cctype>

namespace view {

bool WindowState::failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery) {
    failure_.message = message;
    failure_.sent = failureText(shown, delivery);
    awaitingDialog_ = true;
    mark_ = std::string(commands::mark(delivery));
    if (queued_) return false;
    queued_ = true;
    return true;
}

bool WindowState::reached() {
    if (mark_.empty()) return false;
    mark_.clear();
    return true;
}

WindowState::FailureDialog WindowState::showFailure() {
    queued_ = false;
    failure_.title = failureTitle(caption_);
    return failure_;
}

char32_t accessKeyOf(std::string_view caption) {
    const auto at = caption.find('&');
    if (at == std::string_view::npos || at + 1 >= caption.size()) return 0;
    return static_cast<char32_t>(std::toupper(static_cast<unsigned char>(caption[at + 1])));
}

std::optional<ControlRef> accessKeyButton(const WindowSpec& window, char32_t letter) {
    if (letter < 128) letter = static_cast<char32_t>(std::toupper(static_cast<int>(letter)));
    for (const ControlSpec& c : window.controls) {
        if (c.kind == Kind::Button && !c.hidden && letter != 0 && accessKeyOf(c.caption) == letter) {
            return ControlRef{c.name, c.index};
        }
    }
    return std::nullopt;
}

ControlRef exitButton(const WindowSpec& /*window*/) { return {"cmdExit", -1}; }

std::vector<std::size_t> stackingOrder(const WindowSpec& window) {
    std::vector<std::size_t> order;
    for (const bool beneath : {false, true}) {
        for (std::size_t row = window.controls.size(); row-- > 0;) {
            const Kind kind = window.controls[row].kind;
            if ((kind == Kind::Label || kind == Kind::Rectangle) == beneath) order.push_back(row);
        }
    }
    return order;
}

ResolvedLook resolvedLook(const WindowSpec& window, const ControlSpec& control) {
    const Look& look = control.look;
    ResolvedLook resolved{look.text.value_or(Rgb{0, 0, 0}), look.back, look.points > 0 ? look.points : 8.0, look.bold,
                          look.align, look.wrap};
    switch (control.kind) {
        case Kind::Label: resolved.back = look.back.value_or(window.back); break;
        // The window-frame colour of the system these windows come from is black.
        case Kind::TextBox: resolved.back = look.windowFrameBack ? Rgb{0, 0, 0} : look.back.value_or(Rgb{255, 255, 255}); break;
        default: break;
    }
    return resolved;
}

ControlIndex::ControlIndex(const commands::Descriptor& program, const WindowSpec& window) {
    bindings_.reserve(window.controls.size());
    for (std::size_t row = 0; row < window.controls.size(); ++row) {
        bindings_.push_back(bindingFor(program, window.controls[row]));
        if (const auto& id = bindings_.back().model) rows_[{static_cast<int>(id->name), id->index}] = row;
    }
}

std::optional<std::size_t> ControlIndex::rowOf(controls::ControlId id) const {
    const auto it = rows_.find({static_cast<int>(id.name), id.index});
    if (it == rows_.end()) return std::nullopt;
    return it->second;
}

}  // namespace view
