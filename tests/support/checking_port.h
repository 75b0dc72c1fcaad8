// A port that passes every access on and feeds it to the bus checker.
#pragma once

#include "buscheck/checker.h"
#include "bus/port.h"

namespace testing_support {

class CheckingPort final : public bus::Port {
public:
    explicit CheckingPort(bus::Port& inner) : inner_(inner) {}
    buscheck::Checker checker;

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        inner_.OutportW(port, value);
        checker.write(port, value);
    }
    std::uint16_t InportW(std::uint16_t port) override {
        const auto value = inner_.InportW(port);
        checker.read(port, value);
        return value;
    }

private:
    bus::Port& inner_;
};

}  // namespace testing_support
