// A recording port: passes every access to the port it wraps and writes it to a
// trace, in the format the file's extension names (trace_format.h).
#pragma once

#include "bus/decoder.h"
#include "bus/line_view.h"
#include "bus/port.h"
#include "ports/trace_format.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ports {

// Every format, in the order --help lists them.
std::span<const TraceFormatEntry* const> traceFormats();

// The format a trace path asks for ("-" is the decoded format on standard
// output); throws ConfigError for an extension that is none of them, listing them.
const TraceFormatEntry& traceFormatFor(const std::string& path);

// "formats: .txt (decoded bus transactions; - for standard output), ...".
std::string traceFormatList();

// The decoded trace's line for a device address: "device address 0x2d (address bytes 0x5a and 0x5b)".
std::string addressHeader(std::uint8_t address);

class TracePort final : public bus::Port, private TraceOut {
public:
    // Opens the file at once, so that an unwritable one is reported before any
    // window opens; throws ConfigError naming the file and the reason.
    TracePort(std::unique_ptr<bus::Port> inner, const std::string& path);
    // Writes to a stream the caller opened, and closes it; name is how messages call it.
    TracePort(std::unique_ptr<bus::Port> inner, std::FILE* file, const TraceFormatEntry& format, std::string name);
    ~TracePort() override;

    // The operator action the next accesses belong to, for decoded lines.
    void setAction(std::string_view action) { action_ = action; }

    // A line about the port for the top of the decoded trace, asked for after
    // each access until the port can tell it (an I2C adapter, once open).
    void setHeader(std::function<std::optional<std::string>()> header) { header_ = std::move(header); }
    // A device address other than the default: the decoded trace names it at
    // its top (addressHeader) and reads transactions to it as the potentiometer's.
    void setDeviceAddress(std::uint8_t address);

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    // A trace that could not be written (a full disk, a removed device) stops
    // recording but never stops the bus. The message, naming the file and the
    // reason, is handed out once: the first call after the failure returns it.
    std::optional<std::string> takeFailure();

    // Ends the file; a failure to do so is reported by takeFailure.
    void close();

private:
    void put(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    double elapsedMs() const override;
    std::string_view action() const override { return action_; }
    void flush();
    void failed(const char* operation, int error);
    void record(bool read, std::uint16_t port, std::uint16_t value);
    // Open traces are closed at exit() too (a port library may call it).
    void listOpen();
    void unlistOpen();

    std::unique_ptr<bus::Port> inner_;
    std::string path_;
    std::FILE* file_ = nullptr;
    bool ownsFile_ = true;
    std::unique_ptr<TraceFormat> format_;
    std::string failure_;  // the first write that failed; recording stops there
    bool reported_ = false;
    bus::LineView lines_;
    bus::Decoder decoder_;
    std::uint64_t time_ = 0;  // one step per access
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::string action_ = "-";
    std::function<std::optional<std::string>()> header_;
    std::string note_;
    TracePort* nextOpen_ = nullptr;
};

}  // namespace ports
