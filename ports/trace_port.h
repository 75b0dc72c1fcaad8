// A recording port: passes every access to the port it wraps and writes it to a
// trace file, as a text log or, for a file ending in .vcd, as a waveform.
#pragma once

#include "bus/line_view.h"
#include "bus/port.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace ports {

class TracePort final : public bus::Port {
public:
    // Opens the file at once, so that an unwritable one is reported before any
    // window opens; throws ConfigError naming the file and the reason.
    TracePort(std::unique_ptr<bus::Port> inner, const std::string& path);
    ~TracePort() override;
    TracePort(const TracePort&) = delete;
    TracePort& operator=(const TracePort&) = delete;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;


private:
    void recordWrite(std::uint16_t port, std::uint16_t value);
    void recordRead(std::uint16_t port, std::uint16_t value);
    void writeVcdHeader();
    void vcdTime();
    void vcdBit(char id, bool value, bool& shown);

    std::unique_ptr<bus::Port> inner_;
    std::FILE* file_ = nullptr;
    bool vcd_ = false;
    bus::LineView lines_;
    std::uint64_t time_ = 0;  // one step per access
    std::uint64_t lastStamp_ = 0;
    // What the waveform shows now.
    bool scl_ = true;
    bool sda_ = true;
    bool sdaIn_ = true;
    std::uint8_t data_ = 0xFF;
};

}  // namespace ports
