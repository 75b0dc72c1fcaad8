// The trace file formats. The programs have no timing of their own, so the
// waveform's time is simply the number of the port access.
#include "ports/trace_port.h"

#include "bus/lines.h"
#include "ports/options.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace ports {
namespace {

constexpr const char* kFormats =
    "formats: .txt (decoded bus transactions; - for standard output), .log (one line per port access), "
    ".vcd (waveform)";

std::string lowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot);
    for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return extension;
}

// The data register as eight one-bit wires DATA[7]..DATA[0], identifiers '%'
// (bit 0) to ',' (bit 7). A single 8-bit vector would be neater, but the sigrok
// library of Debian 12 (and so PulseView) stops reading a file at its first
// vector value.
constexpr char kDataId0 = '%';

}  // namespace

TraceFormat traceFormatFor(const std::string& path) {
    if (path == "-") return TraceFormat::Transactions;
    const std::string extension = lowerExtension(path);
    if (extension == ".txt") return TraceFormat::Transactions;
    if (extension == ".log") return TraceFormat::Accesses;
    if (extension == ".vcd") return TraceFormat::Waveform;
    throw ConfigError("trace " + printable(path) + ": " +
                      (extension.empty() ? std::string("no extension") : "unknown extension '" + printable(extension) + "'") +
                      "; " + kFormats);
}

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
    if (format_ == TraceFormat::Waveform) put("#%llu\n", static_cast<unsigned long long>(time_ + 1));
    const bool ok = ownsFile_ ? std::fclose(file_) == 0 : std::fflush(file_) == 0;
    const int error = errno;
    file_ = nullptr;
    if (!ok) failed("close", error);
}

TracePort::TracePort(std::unique_ptr<bus::Port> inner, const std::string& path)
    : inner_(std::move(inner)), path_(path == "-" ? "standard output" : path), format_(traceFormatFor(path)) {
    if (path == "-") {
        file_ = stdout;
        ownsFile_ = false;
    } else {
        file_ = std::fopen(path.c_str(), "w");
    }
    if (file_ == nullptr) {
        throw ConfigError("trace " + path + ": cannot open for writing: " + std::strerror(errno));
    }
    if (format_ == TraceFormat::Waveform) writeVcdHeader();
}

TracePort::TracePort(std::unique_ptr<bus::Port> inner, std::FILE* file, TraceFormat format, std::string name)
    : inner_(std::move(inner)), path_(std::move(name)), file_(file), format_(format) {
    if (format_ == TraceFormat::Waveform) writeVcdHeader();
}

TracePort::~TracePort() { close(); }

void TracePort::writeVcdHeader() {
    put("%s", "$version px77xx bus trace $end\n"
               "$comment one time step is one port access: the programs have no timing of their own $end\n"
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
    if (format_ == TraceFormat::Waveform) {
        vcdBit('!', lines_.scl(), scl_);
        vcdBit('"', lines_.sda(), sda_);
        if (lines_.data() != data_) {
            vcdTime();
            dataBits(lines_.data(), static_cast<std::uint8_t>(lines_.data() ^ data_));
            data_ = lines_.data();
        }
    } else if (format_ == TraceFormat::Accesses) {
        put("out 0x%x 0x%02x\n", port, value);
    } else if (port == bus::kDataRegister) {
        decode(step);
    }
    // A transaction ends with a stop; a write that moves no bus line (the shutdown
    // code) is a whole action of its own.
    const bool stop = lines_.scl() && !step.sclRose && !step.sdaBefore && step.sdaAfter;
    const bool busUntouched = wasIdle && lines_.scl() && lines_.sda() && before != lines_.data();
    if (format_ == TraceFormat::Transactions && busUntouched && ((before ^ lines_.data()) & bus::kShutdownLine) != 0) {
        const bool low = (lines_.data() & bus::kShutdownLine) == 0;
        put("%10.3f  %-10s data register 0x%02x  %s\n", elapsedMs(), action_.c_str(), lines_.data(),
            low ? "shutdown pattern (D4 low)" : "D4 high again: out of shutdown");
    }
    if (stop || busUntouched) flush();
}

void TracePort::recordRead(std::uint16_t port, std::uint16_t value) {
    ++time_;
    if (port == bus::kStatusRegister) lines_.read(value);
    if (format_ == TraceFormat::Waveform) {
        vcdBit('$', lines_.sampledSda(), sdaIn_);
        vcdBit('"', lines_.sda(), sda_);
    } else if (format_ == TraceFormat::Accesses) {
        put("in 0x%x 0x%04x\n", port, value);
    }
}

double TracePort::elapsedMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
}

void TracePort::decode(const bus::LineStep& step) {
    for (const auto& e : decoder_.step(step)) {
        switch (e.kind) {
            case bus::Decoder::Kind::Start:
            case bus::Decoder::Kind::RepeatedStart:
            case bus::Decoder::Kind::Stop:
                endTransaction(e.pendingBits == 8);
                if (e.kind != bus::Decoder::Kind::Stop) {
                    transactionMs_ = elapsedMs();
                    transactionAction_ = action_;
                }
                break;
            case bus::Decoder::Kind::Byte:
                if (e.index == 0) {
                    haveAddress_ = true;
                    addressByte_ = e.byte;
                } else if (byteCount_ < bytes_.size()) {
                    bytes_[byteCount_] = e.byte;
                    acks_[byteCount_] = nullptr;
                    ++byteCount_;
                }
                break;
            case bus::Decoder::Kind::Acknowledge: {
                // The line on the ninth clock, and who held it low: the master's
                // own D0, or a device while D0 was released.
                const bool masterLow = (lines_.data() & 0x01) == 0;
                const char* ack = masterLow ? "ack(master)" : (!lines_.sda() ? "ack" : "nack");
                if (e.index == 0) {
                    addressAck_ = ack;
                } else if (static_cast<std::size_t>(e.index) <= byteCount_) {
                    acks_[static_cast<std::size_t>(e.index) - 1] = ack;
                }
                break;
            }
        }
    }
}

void TracePort::endTransaction(bool noNinthClock) {
    if (haveAddress_) {
        const bool read = (addressByte_ & 1) != 0;
        const unsigned address = addressByte_ >> 1U;
        std::string line;
        char text[64];
        std::snprintf(text, sizeof text, "%10.3f  %-10s %-5s 0x%02x", transactionMs_, transactionAction_.c_str(),
                      read ? "read" : "write", address);
        line = text;
        if (addressAck_ == "nack") line += " nack";
        for (std::size_t i = 0; i < byteCount_; ++i) {
            const char* ack = acks_[i];
            std::snprintf(text, sizeof text, "  %02x %s", bytes_[i],
                          ack != nullptr ? ack : (noNinthClock && i + 1 == byteCount_ ? "(no ninth clock)" : "(cut off)"));
            line += text;
        }
        std::string meaning;
        if (address != bus::kSlaveAddress) {
            meaning = "not the potentiometer's address";
        } else if (read && byteCount_ > 0) {
            meaning = "read " + std::to_string(bytes_[0]);
        } else if (!read && byteCount_ >= 2) {
            meaning = "channel " + std::string((bytes_[0] & 0x80) != 0 ? "2" : "1") + " <- " + std::to_string(bytes_[1]);
        } else if (!read) {
            meaning = byteCount_ == 0 ? "address only" : "instruction only, no code";
        }
        if (!meaning.empty()) line += "   " + meaning;
        put("%s\n", line.c_str());
    }
    haveAddress_ = false;
    addressAck_.clear();
    byteCount_ = 0;
}

}  // namespace ports
