// The list of programs and the names shared by their tables.
#include "commands/descriptor.h"

namespace commands {

const Command* Descriptor::find(std::string_view name) const {
    for (const auto& command : commands) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

const Command* Descriptor::findWord(std::string_view word) const {
    for (const auto& command : commands) {
        if (command.word == word) return &command;
    }
    return nullptr;
}

std::span<const Descriptor* const> programs() {
    static constexpr std::array kAll{&kDescriptorA, &kDescriptorB};
    return kAll;
}

const Descriptor* findProgram(std::string_view key) {
    for (const Descriptor* d : programs()) {
        if (d->key == key) return d;
    }
    return nullptr;
}

std::string programKeys(std::string_view separator, std::string_view last) {
    std::string keys;
    const auto all = programs();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) keys += i + 1 == all.size() ? last : separator;
        keys += all[i]->key;
    }
    return keys;
}

std::string valueLabel(const Command& command, int value) { return std::string(command.word) + "=" + std::to_string(value); }

std::string bitLabel(int index, int value) {
    return std::string(kBitPrefix) + std::to_string(index) + "=" + std::to_string(value);
}

std::string valueCaption(const Command& command, int value) {
    const std::string_view word = command.word;
    if (word.rfind("code", 0) != 0) return valueLabel(command, value);
    return "the channel " + std::string(word.substr(4)) + " code bar, at " + std::to_string(value);
}

std::string bitCaption(int index, int value) {
    return "the bit " + std::to_string(index) + " bar, at " + std::to_string(value);
}

HelpParts helpParts(std::string_view help) {
    const auto colon = help.find("\": ");
    if (help.empty() || help.front() != '"' || colon == std::string_view::npos) return {"", std::string(help)};
    std::string caption(help.substr(1, colon - 1));
    std::erase(caption, '&');
    return {caption, std::string(help.substr(colon + 3))};
}

std::string failureReport(std::string_view action, const Delivery& delivery, std::string_view error) {
    // "set 1 5: written; the device did not acknowledge the last byte (0x05)"
    const char* joint = delivery.kind == Delivery::Kind::Written ? "; " : ": ";
    return std::string(action) + ": " + describe(delivery) + joint + std::string(error);
}

}  // namespace commands
