// The recorder: the file, its failures, and the bus as the port sees it, which
// every format is handed with each access.
#include "ports/trace_port.h"

#include "bus/lines.h"
#include "platform/files.h"
#include "ports/factory.h"
#include "ports/options.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace ports {
namespace {

constexpr std::array<const TraceFormatEntry*, 3> kFormats{&kDecodedTrace, &kAccessTrace, &kWaveformTrace};

// The extension of the file's own name: after the last slash, or backslash as
// Windows writes paths.
std::string lowerExtension(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot);
    for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return extension;
}

// A port library may end the process with exit() in the middle of a frame.
// The traces still open are closed then, so that each keeps what reached the
// port, the transaction cut short included. This list is the recorder's one
// piece of process-wide state; the programs touch it from their one thread.
TracePort* gOpenTraces = nullptr;

extern "C" void closeOpenTraces() {
    while (gOpenTraces != nullptr) gOpenTraces->close();
}

}  // namespace

void TracePort::listOpen() {
    static const bool registered = std::atexit(closeOpenTraces) == 0;
    (void)registered;
    nextOpen_ = gOpenTraces;
    gOpenTraces = this;
}

void TracePort::unlistOpen() {
    for (TracePort** at = &gOpenTraces; *at != nullptr; at = &(*at)->nextOpen_) {
        if (*at == this) {
            *at = nextOpen_;
            return;
        }
    }
}

std::span<const TraceFormatEntry* const> traceFormats() { return kFormats; }

std::string traceFormatList() {
    std::string list = "formats: ";
    for (const TraceFormatEntry* format : kFormats) {
        if (format != kFormats.front()) list += ", ";
        list += std::string(format->extension) + " (" + std::string(format->help) + ")";
    }
    return list;
}

const TraceFormatEntry& traceFormatFor(const std::string& path) {
    if (path == "-") return kDecodedTrace;
    const std::string extension = lowerExtension(path);
    for (const TraceFormatEntry* format : kFormats) {
        if (format->extension == extension) return *format;
    }
    throw ConfigError("trace " + printable(path) + ": " +
                      (extension.empty() ? std::string("no extension") : "unknown extension '" + printable(extension) + "'") +
                      "; " + traceFormatList());
}

TracePort::TracePort(std::unique_ptr<bus::Port> inner, const std::string& path)
    : inner_(std::move(inner)), path_(path == "-" ? "standard output" : path), format_(traceFormatFor(path).make()) {
    if (path == "-") {
        file_ = stdout;
        ownsFile_ = false;
    } else {
        file_ = platform::openFile(path, "wb");
    }
    if (file_ == nullptr) {
        throw ConfigError("trace " + path + ": cannot open for writing: " + std::strerror(errno));
    }
    format_->begin(*this);
    flush();
    listOpen();
}

TracePort::TracePort(std::unique_ptr<bus::Port> inner, std::FILE* file, const TraceFormatEntry& format, std::string name)
    : inner_(std::move(inner)), path_(std::move(name)), file_(file), format_(format.make()) {
    format_->begin(*this);
    flush();
    listOpen();
}

TracePort::~TracePort() { close(); }

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
    unlistOpen();
    format_->end(*this, time_);
    const bool ok = ownsFile_ ? std::fclose(file_) == 0 : std::fflush(file_) == 0;
    const int error = errno;
    file_ = nullptr;
    if (!ok) failed("close", error);
}

double TracePort::elapsedMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started_).count();
}

// A failed access did not reach the port and is not recorded; what did is put
// on disk at once, as the action ends there.
std::string addressHeader(std::uint8_t address) {
    char text[64];
    std::snprintf(text, sizeof text, "device address 0x%02x (address bytes 0x%02x and 0x%02x)", address,
                  (address << 1) & 0xFF, ((address << 1) | 1) & 0xFF);
    return text;
}

void TracePort::setDeviceAddress(std::uint8_t address) {
    format_->setDeviceAddress(address);
    note_ = addressHeader(address);
}

void TracePort::OutportW(std::uint16_t port, std::uint16_t value) {
    try {
        inner_->OutportW(port, value);
    } catch (const bus::PortError&) {
        flush();
        throw;
    }
    record(false, port, value);
}

std::uint16_t TracePort::InportW(std::uint16_t port) {
    std::uint16_t value = 0;
    try {
        value = inner_->InportW(port);
    } catch (const bus::PortError&) {
        flush();
        throw;
    }
    record(true, port, value);
    return value;
}

void TracePort::record(bool read, std::uint16_t port, std::uint16_t value) {
    ++time_;
    const bool wasIdle = lines_.scl() && lines_.sda();
    const std::uint8_t before = lines_.data();
    TraceAccess access{read, port, value, time_, lines_, before, !read && port == bus::kDataRegister, {}, false};
    if (read) {
        if (port == bus::kStatusRegister) lines_.read(value);
    } else {
        const auto step = lines_.write(static_cast<std::uint8_t>(value & 0xFF));
        if (access.busData) access.events = decoder_.step(step);
        // A write that moves no bus line (the shutdown code) is a whole action of its own.
        access.untouched = wasIdle && lines_.scl() && lines_.sda() && before != lines_.data();
    }
    if (!note_.empty()) {
        format_->header(*this, note_);
        note_.clear();
    }
    if (header_) {
        if (const auto header = header_()) {
            format_->header(*this, *header);
            header_ = nullptr;
        }
    }
    format_->access(*this, access);
    // Every transaction is on disk when it ends.
    bool stop = access.untouched;
    for (const auto& e : access.events) stop = stop || e.kind == bus::Decoder::Kind::Stop;
    if (stop) flush();
}

}  // namespace ports
