// One trace format: a class that is told of every port access and writes its
// own lines, and its entry in the table of formats, chosen by the extension.
#pragma once

#include "bus/decoder.h"
#include "bus/line_view.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace ports {

// Where a format writes, and what it may want to say besides the access.
class TraceOut {
public:
    virtual void put(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    virtual double elapsedMs() const = 0;        // since the trace began
    virtual std::string_view action() const = 0;  // the operator action under way, as pxctl names it

protected:
    ~TraceOut() = default;
};

// One access that reached the port, and what the bus made of it.
struct TraceAccess {
    bool read;
    std::uint16_t port;
    std::uint16_t value;           // written, or read
    std::uint64_t time;            // the access's number, the first is 1
    const bus::LineView& lines;    // the lines after it
    std::uint8_t dataBefore;       // the data register before it
    bool busData;                  // a write of the data register
    bus::Decoder::Events events;   // the bus conditions, bytes and acknowledges it completed
    bool untouched;                // a write that left an idle bus idle but changed another data bit
};

class TraceFormat {
public:
    virtual ~TraceFormat() = default;
    virtual void begin(TraceOut&) {}
    // A line about the port, once it is known; before the first transaction.
    virtual void header(TraceOut&, std::string_view /*text*/) {}
    // The device's 7-bit address, where it is not the default.
    virtual void setDeviceAddress(std::uint8_t /*address*/) {}
    virtual void access(TraceOut& out, const TraceAccess& access) = 0;
    virtual void end(TraceOut&, std::uint64_t /*lastTime*/) {}
};

struct TraceFormatEntry {
    std::string_view extension;  // ".txt", matched whatever its case
    std::string_view help;       // what it holds, for --help and for errors
    std::unique_ptr<TraceFormat> (*make)();
};

// The entries, each in its format's file.
extern const TraceFormatEntry kDecodedTrace;
extern const TraceFormatEntry kAccessTrace;
extern const TraceFormatEntry kWaveformTrace;

}  // namespace ports
