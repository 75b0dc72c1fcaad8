// An observer that records every change the controls model reports, in order.
#pragma once

#include "controls/controls.h"

#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

struct Event {
    std::string control;  // "vsbBit(3)", "txtSDA_Write"
    std::string value;    // the new Value as text, or the new Text
    friend bool operator==(const Event&, const Event&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Event& e) {
        return os << e.control << "=" << e.value;
    }
};

class EventLog final : public controls::ControlObserver {
public:
    std::vector<Event> events;
    void valueChanged(controls::ControlId id, int value) override {
        events.push_back({controls::describe(id), std::to_string(value)});
    }
    void textChanged(controls::ControlId id, std::string_view text) override {
        events.push_back({controls::describe(id), std::string(text)});
    }
};

}  // namespace testing_support
