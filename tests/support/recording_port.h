// A fake port for tests: records every access in order, answers reads from a
// scripted list of status words, and can fail at a chosen access.
#pragma once

#include "bus/port.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <ostream>
#include <vector>

namespace testing_support {

struct Access {
    bool read;
    std::uint16_t port;
    std::uint16_t value;  // written, or answered
    friend bool operator==(const Access&, const Access&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Access& a) {
        return os << (a.read ? "in 0x" : "out 0x") << std::hex << a.port << " 0x" << a.value << std::dec;
    }
};

inline Access W(std::uint16_t value) { return {false, 0x378, value}; }
inline Access R(std::uint16_t value) { return {true, 0x379, value}; }

// Fails a chosen access before it reaches anything: the one fault injection
// of the test ports.
class FaultInjection {
public:
    std::size_t failAt = 0;   // the 1-based access that throws; 0: none
    bool failAlways = false;  // every access throws, as a port that cannot be opened

    std::size_t accesses() const { return accesses_; }
    // The n-th access from now fails (1: the next one).
    void failAfter(std::size_t n) { failAt = accesses_ + n; }

protected:
    void countAccess() {
        ++accesses_;
        if (failAlways || (failAt != 0 && accesses_ == failAt)) throw bus::PortError("test port: injected failure");
    }

private:
    std::size_t accesses_ = 0;
};

class RecordingPort final : public bus::Port, public FaultInjection {
public:
    std::vector<Access> log;
    std::deque<std::uint16_t> status;  // answers to reads, in order
    std::uint16_t idleStatus = 0x0000; // answer once the script is used up

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        countAccess();
        log.push_back({false, port, value});
    }
    std::uint16_t InportW(std::uint16_t port) override {
        countAccess();
        std::uint16_t value = idleStatus;
        if (!status.empty()) {
            value = status.front();
            status.pop_front();
        }
        log.push_back({true, port, value});
        return value;
    }

    // Scripts eight samples, first sampled first, as status words with only bit 3.
    void scriptSamples(std::initializer_list<int> bits) {
        for (int b : bits) status.push_back(b != 0 ? 0x0008 : 0x0000);
    }
};

// Builds expected access sequences the way the bus tables are written.
class Seq {
public:
    Seq& w(std::initializer_list<std::uint16_t> values) {
        for (auto v : values) items_.push_back(W(v));
        return *this;
    }
    Seq& r(std::uint16_t value) {
        items_.push_back(R(value));
        return *this;
    }
    Seq& repeat(int times, std::initializer_list<std::uint16_t> values) {
        for (int i = 0; i < times; ++i) w(values);
        return *this;
    }
    Seq& then(const std::vector<Access>& more) {
        items_.insert(items_.end(), more.begin(), more.end());
        return *this;
    }
    operator std::vector<Access>() const { return items_; }
    const std::vector<Access>& items() const { return items_; }

private:
    std::vector<Access> items_;
};

}  // namespace testing_support
