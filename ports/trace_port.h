// A recording port: passes every access to the port it wraps and writes it to a
// trace, in one of three formats chosen by the file's extension: decoded bus
// transactions (.txt, or "-" for standard output), one line per port access
// (.log), or a waveform (.vcd).
#pragma once

#include "bus/decoder.h"
#include "bus/line_view.h"
#include "bus/port.h"

#include <array>
#include <chrono>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ports {

enum class TraceFormat { Transactions, Accesses, Waveform };

// The format a trace path asks for; throws ConfigError for an extension that is
// none of them, listing the formats.
TraceFormat traceFormatFor(const std::string& path);

class TracePort final : public bus::Port {
public:
    // Opens the file at once, so that an unwritable one is reported before any
    // window opens; throws ConfigError naming the file and the reason.
    TracePort(std::unique_ptr<bus::Port> inner, const std::string& path);
    // Writes to a stream the caller opened, and closes it; name is how messages call it.
    TracePort(std::unique_ptr<bus::Port> inner, std::FILE* file, TraceFormat format, std::string name);
    ~TracePort() override;

    // The operator action the next accesses belong to, for decoded lines.
    void setAction(std::string_view action) { action_ = action; }

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
    void decode(const bus::LineStep& step);
    double elapsedMs() const;
    void endTransaction(bool noNinthClock);
    void dataBits(std::uint8_t value, std::uint8_t changed);
    void vcdTime();
    void vcdBit(char id, bool value, bool& shown);

    std::unique_ptr<bus::Port> inner_;
    std::string path_;
    std::FILE* file_ = nullptr;
    bool ownsFile_ = true;
    TraceFormat format_ = TraceFormat::Accesses;
    std::string failure_;  // the first write that failed; recording stops there
    bool reported_ = false;
    bus::LineView lines_;
    std::uint64_t time_ = 0;  // one step per access
    std::uint64_t lastStamp_ = 0;
    // What the waveform shows now.
    bool scl_ = true;
    bool sda_ = true;
    bool sdaIn_ = true;
    std::uint8_t data_ = 0xFF;

    // Decoded transactions: the one in progress.
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::string action_ = "-";
    bus::Decoder decoder_;
    double transactionMs_ = 0;
    std::string transactionAction_;
    bool haveAddress_ = false;
    std::uint8_t addressByte_ = 0;
    std::string addressAck_;
    std::array<std::uint8_t, 8> bytes_{};
    std::array<const char*, 8> acks_{};
    std::size_t byteCount_ = 0;
};

}  // namespace ports
