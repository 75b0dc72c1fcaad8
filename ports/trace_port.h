// A recording port: passes every access to the port it wraps and writes it to a
// trace file, as a text log or, for a file ending in .vcd, as a waveform.
#pragma once

#include "bus/line_view.h"
#include "bus/port.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace ports {

class TracePort final : public bus::Port {
public:
    // Opens the file at once, so that an unwritable one is reported before any
    // window opens; throws ConfigError naming the file and the reason.
    TracePort(std::unique_ptr<bus::Port> inner, const std::string& path);
    ~TracePort() override;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    // A trace that could not be written (a full disk, a removed device) stops
    // recording but never stops the bus. The message, naming the file and the
    // reason, is handed out once: the first call after the failure returns it.
    std::optional<std::string> takeFailure();

    // Ends the file; a failure to do so is reported by takeFailure.
    void close();

private:
    void put(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void flush();
    void failed(const char* operation, int error);
    void recordWrite(std::uint16_t port, std::uint16_t value);
    void recordRead(std::uint16_t port, std::uint16_t value);
    void writeVcdHeader();
    void dataBits(std::uint8_t value, std::uint8_t changed);
    void vcdTime();
    void vcdBit(char id, bool value, bool& shown);

    std::unique_ptr<bus::Port> inner_;
    std::string path_;
    std::FILE* file_ = nullptr;
    std::string failure_;  // the first write that failed; recording stops there
    bool reported_ = false;
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
