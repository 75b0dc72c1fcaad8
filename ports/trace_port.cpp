// The trace file formats. The programs have no timing of their own, so the
// waveform's time is simply the number of the port access.
#include "ports/trace_port.h"

#include "bus/lines.h"
#include "ports/options.h"

#include <cerrno>
#include <cstring>

namespace ports {
namespace {

bool endsWith(const std::string& text, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// The data register as eight one-bit wires DATA[7]..DATA[0], identifiers '%'
// (bit 0) to ',' (bit 7). A single 8-bit vector would be neater, but the sigrok
// library of Debian 12 (and so PulseView) stops reading a file at its first
// vector value.
constexpr char kDataId0 = '%';

void dataBits(std::FILE* file, std::uint8_t value, std::uint8_t changed) {
    for (int bit = 7; bit >= 0; --bit) {
        if (((changed >> bit) & 1) == 0) continue;
        std::fprintf(file, "%c%c\n", ((value >> bit) & 1) != 0 ? '1' : '0', kDataId0 + bit);
    }
}

}  // namespace

TracePort::TracePort(std::unique_ptr<bus::Port> inner, const std::string& path)
    : inner_(std::move(inner)), vcd_(endsWith(path, ".vcd")) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        throw ConfigError("trace " + path + ": cannot open for writing: " + std::strerror(errno));
    }
    if (vcd_) writeVcdHeader();
}

TracePort::~TracePort() {
    if (vcd_) std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(time_ + 1));
    std::fclose(file_);
}

void TracePort::writeVcdHeader() {
    std::fputs("$version px77xx bus trace $end\n"
               "$comment one time step per parallel-port access $end\n"
               "$timescale 1 us $end\n"
               "$scope module parport $end\n"
               "$var wire 1 ! SCL $end\n"
               "$var wire 1 \" SDA $end\n"
               "$var wire 1 $ SDA_IN $end\n",
               file_);
    for (int bit = 7; bit >= 0; --bit) std::fprintf(file_, "$var wire 1 %c DATA[%d] $end\n", kDataId0 + bit, bit);
    std::fputs("$upscope $end\n"
               "$enddefinitions $end\n"
               "#0\n"
               "$dumpvars\n1!\n1\"\n1$\n",
               file_);
    dataBits(file_, data_, 0xFF);
    std::fputs("$end\n", file_);
    std::fflush(file_);
}

void TracePort::vcdTime() {
    if (lastStamp_ == time_) return;
    std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(time_));
    lastStamp_ = time_;
}

void TracePort::vcdBit(char id, bool value, bool& shown) {
    if (value == shown) return;
    vcdTime();
    std::fprintf(file_, "%c%c\n", value ? '1' : '0', id);
    shown = value;
}

void TracePort::OutportW(std::uint16_t port, std::uint16_t value) {
    inner_->OutportW(port, value);
    recordWrite(port, value);
}

std::uint16_t TracePort::InportW(std::uint16_t port) {
    const std::uint16_t value = inner_->InportW(port);
    recordRead(port, value);
    return value;
}

void TracePort::recordWrite(std::uint16_t port, std::uint16_t value) {
    ++time_;
    const bool wasIdle = lines_.scl() && lines_.sda();
    const std::uint8_t before = lines_.data();
    const auto step = lines_.write(static_cast<std::uint8_t>(value & 0xFF));
    if (vcd_) {
        vcdBit('!', lines_.scl(), scl_);
        vcdBit('"', lines_.sda(), sda_);
        if (lines_.data() != data_) {
            vcdTime();
            dataBits(file_, lines_.data(), static_cast<std::uint8_t>(lines_.data() ^ data_));
            data_ = lines_.data();
        }
    } else {
        std::fprintf(file_, "out 0x%x 0x%02x\n", port, value);
    }
    // A transaction ends with a stop; a write that moves no bus line (the shutdown
    // code) is a whole action of its own.
    const bool stop = lines_.scl() && !step.sclRose && !step.sdaBefore && step.sdaAfter;
    const bool busUntouched = wasIdle && lines_.scl() && lines_.sda() && before != lines_.data();
    if (stop || busUntouched) std::fflush(file_);
}

void TracePort::recordRead(std::uint16_t port, std::uint16_t value) {
    ++time_;
    if (port == bus::kStatusRegister) lines_.read(value);
    if (vcd_) {
        vcdBit('$', lines_.sampledSda(), sdaIn_);
        vcdBit('"', lines_.sda(), sda_);
    } else {
        std::fprintf(file_, "in 0x%x 0x%04x\n", port, value);
    }
}

}  // namespace ports
