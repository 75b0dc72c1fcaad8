// .txt: one line per bus transaction, with its time, the action that caused it,
// every byte with its acknowledge as the line carried it, and what it means for
// the potentiometer.
#include "bus/assembler.h"
#include "bus/lines.h"
#include "ports/trace_format.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace ports {
namespace {

const char* ackText(bus::Ack ack) {
    switch (ack) {
        case bus::Ack::Master: return "ack(master)";
        case bus::Ack::Device: return "ack";
        case bus::Ack::Nack: return "nack";
        case bus::Ack::None: break;
    }
    return nullptr;
}

class Decoded final : public TraceFormat {
public:
    void header(TraceOut& out, std::string_view text) override {
        out.put("# %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void setDeviceAddress(std::uint8_t address) override { address_ = address; }

    void access(TraceOut& out, const TraceAccess& a) override {
        // A sample taken on the ninth clock, SCL still high: the device's answer.
        if (a.read && ninthClock_ && a.lines.scl() && !a.lines.sda()) assembler_.answeredLow();
        if (!a.read) ninthClock_ = false;
        for (const auto& e : a.events) {
            ninthClock_ = e.kind == bus::Decoder::Kind::Acknowledge;
            if (const bus::Transaction* ended = assembler_.step(e)) print(out, *ended);
            if (e.kind == bus::Decoder::Kind::Start || e.kind == bus::Decoder::Kind::RepeatedStart) {
                startedMs_ = out.elapsedMs();
                startedBy_ = out.action();
            }
        }
        if (a.untouched && ((a.dataBefore ^ a.lines.data()) & bus::kShutdownLine) != 0) {
            const bool low = (a.lines.data() & bus::kShutdownLine) == 0;
            out.put("%10.3f  %-10.*s data register 0x%02x  %s\n", out.elapsedMs(), static_cast<int>(out.action().size()),
                    out.action().data(), a.lines.data(), low ? "shutdown pattern (D4 low)" : "D4 high again: out of shutdown");
        }
    }

    // A transaction the trace ends in the middle of (a port that failed part-way,
    // a program stopped by a signal) is shown as far as it got.
    void end(TraceOut& out, std::uint64_t) override {
        const bus::Transaction& t = assembler_.current();
        if (t.addressed) {
            print(out, t, "   cut short");
        } else if (t.started) {
            out.put("%10.3f  %-10s start, cut short before the address\n", startedMs_, startedBy_.c_str());
        }
    }

private:
    unsigned address_ = bus::kSlaveAddress;
    void print(TraceOut& out, const bus::Transaction& t, std::string_view note = {}) {
        const unsigned address = t.address7();
        char text[64];
        std::snprintf(text, sizeof text, "%10.3f  %-10s %-5s 0x%02x", startedMs_, startedBy_.c_str(),
                      t.read ? "read" : "write", address);
        std::string line = text;
        if (t.addressAck == bus::Ack::Nack) line += " nack";
        for (std::size_t i = 0; i < t.kept(); ++i) {
            const char* ack = ackText(t.acks[i]);
            std::snprintf(text, sizeof text, "  %02x %s", t.bytes[i],
                          ack != nullptr ? ack : (t.noNinthClock && i + 1 == t.byteCount ? "(no ninth clock)" : "(cut off)"));
            line += text;
        }
        std::string meaning;
        if (address != address_) {
            meaning = "not the potentiometer's address";
        } else if (t.read && t.byteCount > 0) {
            meaning = "read " + std::to_string(t.bytes[0]);
        } else if (!t.read && t.byteCount >= 2) {
            meaning = "channel " + std::string((t.bytes[0] & 0x80) != 0 ? "2" : "1") + " <- " + std::to_string(t.bytes[1]);
        } else if (!t.read) {
            meaning = t.byteCount == 0 ? "address only" : "instruction only, no code";
        }
        if (!meaning.empty()) line += "   " + meaning;
        line += note;
        out.put("%s\n", line.c_str());
    }

    bus::TransactionAssembler assembler_;
    bool ninthClock_ = false;  // the last write raised SCL for a ninth clock
    double startedMs_ = 0;
    std::string startedBy_;
};

}  // namespace

const TraceFormatEntry kDecodedTrace{".txt", "decoded bus transactions; - for standard output",
                                     []() -> std::unique_ptr<TraceFormat> { return std::make_unique<Decoded>(); }};

}  // namespace ports
