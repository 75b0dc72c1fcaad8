// The io backend: outb to the data register, inb from the status register.
#include "ports/io_port.h"

#include "bus/lines.h"
#include "platform/linux/devices.h"
#include "ports/backend.h"
#include "ports/ppdev_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define PX_HAVE_IO_PORTS 1
#endif

namespace ports {
namespace {

#ifdef PX_HAVE_IO_PORTS
class X86IoSystem final : public IoSystem {
public:
    int ioperm(unsigned long from, unsigned long count, bool enable) override {
        return ::ioperm(from, count, enable ? 1 : 0) == 0 ? 0 : -errno;
    }
    void outb(std::uint8_t value, std::uint16_t port) override { ::outb(value, port); }
    std::uint8_t inb(std::uint16_t port) override { return ::inb(port); }
};
#endif

const char* hintFor(int error) {
    switch (error) {
        case EPERM:
        case EACCES: return "run as root, or grant CAP_SYS_RAWIO";
        case ENOSYS: return "this system does not allow direct port I/O here; use ppdev";
        default: return nullptr;
    }
}

}  // namespace

std::unique_ptr<IoSystem> x86IoSystem() {
#ifdef PX_HAVE_IO_PORTS
    return std::make_unique<X86IoSystem>();
#else
    return nullptr;
#endif
}

IoPort::IoPort(std::uint16_t base, std::unique_ptr<IoSystem> system) : base_(base), system_(std::move(system)) {}

std::string IoPort::label() const {
    char text[16];
    std::snprintf(text, sizeof text, "io 0x%x", base_);
    return text;
}

IoPort::~IoPort() {
    if (enabled_) system_->ioperm(base_, 2, false);
}

void IoPort::enable() {
    if (!system_) {
        throw bus::PortError(label() + ": ioperm: not available on this processor (direct port I/O needs x86; use ppdev)");
    }
    if (const int result = system_->ioperm(base_, 2, true); result < 0) {
        std::string message = label() + ": ioperm: " + std::strerror(-result);
        if (const char* hint = hintFor(-result)) message += std::string(" (") + hint + ")";
        throw bus::PortError(message).because(-result);
    }
    enabled_ = true;
}

void IoPort::OutportW(std::uint16_t port, std::uint16_t value) {
    if (port != bus::kDataRegister) throw bus::badRegister(label(), "write", port);
    if (!enabled_) enable();
    system_->outb(static_cast<std::uint8_t>(value & 0xFF), base_);  // the data register is 8 bits wide
}

std::uint16_t IoPort::InportW(std::uint16_t port) {
    if (port != bus::kStatusRegister) throw bus::badRegister(label(), "read", port);
    if (!enabled_) enable();
    return system_->inb(static_cast<std::uint16_t>(base_ + 1));
}

namespace {

constexpr Key kIoKeys[] = {{"base", "0x100..0xfffc, a multiple of 4", "0x378", 0x100, 0xFFFC}, kDelayKey};

Opened makeIo(const Options& options) {
    const auto base = *options.number(kIoKeys[0]);
    if (base % 4 != 0) options.reject("base", "is not a multiple of 4", kIoKeys[0].accepts);
    auto port = std::make_unique<IoPort>(static_cast<std::uint16_t>(base));
    std::string label = port->label();
    std::string key = label;
    key[2] = '-';  // "io-0x378"
    return {std::move(port), std::move(label), nullptr, std::move(key)};
}

// The parallel ports Linux knows, by their registers.
std::vector<DetectedPort> detectIo() {
    std::vector<DetectedPort> found;
    for (const ParallelPort& parport : parallelPorts()) {
        if (parport.base == 0) continue;
        char port[32];
        std::snprintf(port, sizeof port, "io:base=0x%x", parport.base);
        DetectedPort io{"io", port, parport.description() + " by direct port I/O"};
        io.usable = platform::linux_devices::mayUseRawIo();
        if (!io.usable) io.why = "direct port I/O: run as root, or grant CAP_SYS_RAWIO";
        found.push_back(std::move(io));
    }
    return found;
}

}  // namespace

const Backend kIoBackend{"io", "io[:base=0x378][,delay=US]", "direct port I/O on x86 (root or CAP_SYS_RAWIO)", kIoKeys,
                         makeIo, false, detectIo};

}  // namespace ports
