// The optional minimum spacing after each write, for slow targets and long cables.
#pragma once

#include <chrono>
#include <thread>

namespace ports {

class Spacing {
public:
    explicit Spacing(unsigned microseconds = 0) : delay_(microseconds) {}
    void afterWrite() const {
        if (delay_.count() > 0) std::this_thread::sleep_for(delay_);  // at least this long
    }

private:
    std::chrono::microseconds delay_;
};

}  // namespace ports
