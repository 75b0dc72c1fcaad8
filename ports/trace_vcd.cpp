// .vcd: a waveform of SCL, SDA, the sampled SDA and the data register's bits.
// The programs have no timing of their own, so one time step is one access.
#include "ports/trace_format.h"

namespace ports {
namespace {

// The data register as eight one-bit wires DATA[7]..DATA[0], identifiers '%'
// (bit 0) to ',' (bit 7). A single 8-bit vector would be neater, but the sigrok
// library of Debian 12 (and so PulseView) stops reading a file at its first
// vector value.
constexpr char kDataId0 = '%';

class Waveform final : public TraceFormat {
public:
    void begin(TraceOut& out) override {
        out.put("%s", "$version px77xx bus trace $end\n"
                      "$comment one time step is one port access: the programs have no timing of their own $end\n"
                      "$timescale 1 us $end\n"
                      "$scope module parport $end\n"
                      "$var wire 1 ! SCL $end\n"
                      "$var wire 1 \" SDA $end\n"
                      "$var wire 1 $ SDA_IN $end\n");
        for (int bit = 7; bit >= 0; --bit) out.put("$var wire 1 %c DATA[%d] $end\n", kDataId0 + bit, bit);
        out.put("%s", "$upscope $end\n"
                      "$enddefinitions $end\n"
                      "#0\n"
                      "$dumpvars\n1!\n1\"\n1$\n");
        dataBits(out, data_, 0xFF);
        out.put("$end\n");
    }

    void access(TraceOut& out, const TraceAccess& a) override {
        time_ = a.time;
        if (a.read) {
            bit(out, '$', a.lines.sampledSda(), sdaIn_);
            bit(out, '"', a.lines.sda(), sda_);
            return;
        }
        bit(out, '!', a.lines.scl(), scl_);
        bit(out, '"', a.lines.sda(), sda_);
        if (a.lines.data() != data_) {
            stamp(out);
            dataBits(out, a.lines.data(), static_cast<std::uint8_t>(a.lines.data() ^ data_));
            data_ = a.lines.data();
        }
    }

    void end(TraceOut& out, std::uint64_t lastTime) override {
        out.put("#%llu\n", static_cast<unsigned long long>(lastTime + 1));
    }

private:
    void dataBits(TraceOut& out, std::uint8_t value, std::uint8_t changed) {
        for (int b = 7; b >= 0; --b) {
            if (((changed >> b) & 1) == 0) continue;
            out.put("%c%c\n", ((value >> b) & 1) != 0 ? '1' : '0', kDataId0 + b);
        }
    }
    void stamp(TraceOut& out) {
        if (stamped_ == time_) return;
        out.put("#%llu\n", static_cast<unsigned long long>(time_));
        stamped_ = time_;
    }
    void bit(TraceOut& out, char id, bool value, bool& shown) {
        if (value == shown) return;
        stamp(out);
        out.put("%c%c\n", value ? '1' : '0', id);
        shown = value;
    }

    std::uint64_t time_ = 0;
    std::uint64_t stamped_ = 0;
    // What the waveform shows now.
    bool scl_ = true;
    bool sda_ = true;
    bool sdaIn_ = true;
    std::uint8_t data_ = 0xFF;
};

}  // namespace

const TraceFormatEntry kWaveformTrace{".vcd", "waveform",
                                      []() -> std::unique_ptr<TraceFormat> { return std::make_unique<Waveform>(); }};

}  // namespace ports
