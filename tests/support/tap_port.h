// The one test wrapper around a working port (usually the simulated board): it
// passes every access on, records it, feeds it to the bus checker, counts
// accesses the programs never make, and can fail at a chosen access (before it
// reaches the port).
#pragma once

#include "buscheck/checker.h"
#include "bus/lines.h"
#include "bus/port.h"
#include "recording_port.h"

#include <cstddef>
#include <vector>

namespace testing_support {

class TapPort final : public bus::Port, public FaultInjection {
public:
    explicit TapPort(bus::Port& inner) : inner_(inner) {}

    buscheck::Checker checker;
    std::vector<Access> log;
    int badAccesses = 0;  // another address, or a value above 255
    int reads = 0;

    // Forgets the log and the checker's events, between actions.
    void clear() {
        log.clear();
        checker.clear();
    }

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        countAccess();
        if (port != bus::kDataRegister || value > 0xFF) ++badAccesses;
        inner_.OutportW(port, value);
        log.push_back({false, port, value});
        checker.write(port, value);
    }
    std::uint16_t InportW(std::uint16_t port) override {
        countAccess();
        if (port != bus::kStatusRegister) ++badAccesses;
        ++reads;
        const auto value = inner_.InportW(port);
        log.push_back({true, port, value});
        checker.read(port, value);
        return value;
    }

private:
    bus::Port& inner_;
};

}  // namespace testing_support
