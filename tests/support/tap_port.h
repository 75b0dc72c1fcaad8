// The one test wrapper around a working port (usually the simulated board): it
// passes every access on, records it, feeds it to the bus checker, counts
// accesses the programs never make, and can fail at a chosen access.
#pragma once

#include "buscheck/checker.h"
#include "bus/lines.h"
#include "bus/port.h"
#include "recording_port.h"

#include <cstddef>
#include <vector>

namespace testing_support {

class TapPort final : public bus::Port {
public:
    explicit TapPort(bus::Port& inner) : inner_(inner) {}

    buscheck::Checker checker;
    std::vector<Access> log;
    int badAccesses = 0;  // another address, or a value above 255
    int reads = 0;

    // The n-th access from now fails before it reaches the port (1: the next one).
    void failAfter(std::size_t n) { failAt_ = accesses_ + n; }

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
    void countAccess() {
        ++accesses_;
        if (failAt_ != 0 && accesses_ == failAt_) throw bus::PortError("test port: injected failure");
    }
    bus::Port& inner_;
    std::size_t accesses_ = 0;
    std::size_t failAt_ = 0;
};

}  // namespace testing_support
