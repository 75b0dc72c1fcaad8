// delay=MICROSECONDS: a minimum spacing after each write, for slow targets and
// long cables, around any backend. The programs have no timing of their own.
#pragma once

#include "bus/port.h"

#include <chrono>
#include <memory>
#include <thread>

namespace ports {

class DelayPort final : public bus::Port {
public:
    DelayPort(std::unique_ptr<bus::Port> inner, std::chrono::microseconds delay)
        : inner_(std::move(inner)), delay_(delay) {}

    void OutportW(std::uint16_t port, std::uint16_t value) override {
        inner_->OutportW(port, value);
        std::this_thread::sleep_for(delay_);  // at least this long
    }
    std::uint16_t InportW(std::uint16_t port) override { return inner_->InportW(port); }

private:
    std::unique_ptr<bus::Port> inner_;
    std::chrono::microseconds delay_;
};

}  // namespace ports
