// The trace file formats. The programs have no timing of their own, so the
// waveform's time is simply the number of the port access.
#include "ports/trace_port.h"

#include "bus/lines.h"
#include "ports/options.h"

#include <cerrno>
#include <cstdarg>
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

}  // namespace

void TracePort::dataBits(std::uint8_t value, std::uint8_t changed) {
    for (int bit = 7; bit >= 0; --bit) {
        if (((changed >> bit) & 1) == 0) continue;
        put("%c%c\n", ((value >> bit) & 1) != 0 ? '1' : '0', kDataId0 + bit);
    }
}

void TracePort::put(const char* format, ...) {
    if (file_ == nullptr || !failure_.empty()) return;
    std::va_list arguments;
    va_start(arguments, format);
    const int written = std::vfprintf(file_, format, arguments);
    va_end(arguments);
    if (written < 0) failed("write", errno);
}

void TracePort::flush() {
    if (file_ == nullptr || !failure_.empty()) return;
    if (std::fflush(file_) != 0) failed("write", errno);
}

void TracePort::failed(const char* operation, int error) {
    if (failure_.empty()) {
        failure_ = "trace " + path_ + ": " + operation + ": " + std::strerror(error) + "; recording stopped";
    }
}

std::optional<std::string> TracePort::takeFailure() {
    if (failure_.empty() || reported_) return std::nullopt;
    reported_ = true;
    return failure_;
}

void TracePort::close() {
    if (file_ == nullptr) return;
    if (vcd_) put("#%llu\n", static_cast<unsigned long long>(time_ + 1));
    const bool ok = std::fclose(file_) == 0;
    const int error = errno;
    file_ = nullptr;
    if (!ok) failed("close", error);
}

TracePort::TracePort(std::unique_ptr<bus::Port> inner, const std::string& path)
    : inner_(std::move(inner)), path_(path), vcd_(endsWith(path, ".vcd")) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        throw ConfigError("trace " + path + ": cannot open for writing: " + std::strerror(errno));
    }
    if (vcd_) writeVcdHeader();
}

TracePort::~TracePort() { close(); }

void TracePort::writeVcdHeader() {
    put("%s", "$version px77xx bus trace $end\n"
               "$comment one time step per parallel-port access $end\n"
               "$timescale 1 us $end\n"
               "$scope module parport $end\n"
               "$var wire 1 ! SCL $end\n"
               "$var wire 1 \" SDA $end\n"
               "$var wire 1 $ SDA_IN $end\n");
    for (int bit = 7; bit >= 0; --bit) put("$var wire 1 %c DATA[%d] $end\n", kDataId0 + bit, bit);
    put("%s", "$upscope $end\n"
               "$enddefinitions $end\n"
               "#0\n"
               "$dumpvars\n1!\n1\"\n1$\n");
    dataBits(data_, 0xFF);
    put("$end\n");
    flush();
}

void TracePort::vcdTime() {
    if (lastStamp_ == time_) return;
    put("#%llu\n", static_cast<unsigned long long>(time_));
    lastStamp_ = time_;
}

void TracePort::vcdBit(char id, bool value, bool& shown) {
    if (value == shown) return;
    vcdTime();
    put("%c%c\n", value ? '1' : '0', id);
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
            dataBits(lines_.data(), static_cast<std::uint8_t>(lines_.data() ^ data_));
            data_ = lines_.data();
        }
    } else {
        put("out 0x%x 0x%02x\n", port, value);
    }
    // A transaction ends with a stop; a write that moves no bus line (the shutdown
    // code) is a whole action of its own.
    const bool stop = lines_.scl() && !step.sclRose && !step.sdaBefore && step.sdaAfter;
    const bool busUntouched = wasIdle && lines_.scl() && lines_.sda() && before != lines_.data();
    if (stop || busUntouched) flush();
}

void TracePort::recordRead(std::uint16_t port, std::uint16_t value) {
    ++time_;
    if (port == bus::kStatusRegister) lines_.read(value);
    if (vcd_) {
        vcdBit('$', lines_.sampledSda(), sdaIn_);
        vcdBit('"', lines_.sda(), sda_);
    } else {
        put("in 0x%x 0x%04x\n", port, value);
    }
}

}  // namespace ports
