// Sessions of a program on a line backend, and the reference they are held
// to: the board's split of every write into line changes (/SHDN first; where
// SCL falls, SCL before SDA; where it rises and SDA moves, SDA first), on a
// simulated device of its own.
#pragma once

#include "bus/line_port.h"
#include "commands/descriptor.h"
#include "script/actions.h"
#include "script/executor.h"
#include "sim/board.h"

#include <string>
#include <vector>

namespace testing_support {

// "SCL SDA /SHDN", one a change.
using States = std::vector<std::string>;

inline std::string state(bool scl, bool sda, bool shdn) {
    return std::string(scl ? "1" : "0") + (sda ? " 1" : " 0") + (shdn ? " 1" : " 0");
}

struct SplitLines final : bus::LineBackend {
    sim::Device device;
    States* states;
    bool scl = true, sda = true, shdn = true;
    explicit SplitLines(States* s) : states(s) {}
    void set(bool c, bool d, bool h) {
        scl = c;
        sda = d;
        shdn = h;
        device.drive(bus::LineLevels(sda, scl, shdn));
        states->push_back(state(scl, sda, shdn));
    }
    void drive(bus::LineLevels l) override {
        if (l.shdn() != shdn) set(scl, sda, l.shdn());
        if (!scl && l.scl() && l.sda() != sda) set(scl, l.sda(), shdn);
        if (scl && !l.scl() && l.sda() != sda) set(false, sda, shdn);
        if (l.scl() != scl || l.sda() != sda) set(l.scl(), l.sda(), shdn);
    }
    bool sampleSda() override { return device.sampleSda(); }
};

struct Session {
    std::vector<std::string> reads;
    std::vector<std::string> errors;
};

// The actions in words, as pxctl takes them, on a program over port.
inline Session run(bus::Port& port, const commands::Descriptor& descriptor, const std::string& words,
                   bool checkAck = false) {
    auto program = descriptor.make(port);
    program->setCheckAck(checkAck);
    script::Executor executor(*program);
    Session session;
    for (const auto& action : script::parseActions(script::splitWords(words), descriptor)) {
        const auto result = executor.execute(action);
        if (result.read) session.reads.push_back(std::to_string(*result.read));
        if (!result.ok) session.errors.push_back(result.error);
    }
    return session;
}

}  // namespace testing_support
