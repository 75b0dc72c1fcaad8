// The io backend: outb to the data register, inb from the status register.
#include "ports/io_port.h"

#include "bus/lines.h"

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

std::string name(std::uint16_t base) {
    char text[16];
    std::snprintf(text, sizeof text, "io 0x%x", base);
    return text;
}

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

IoPort::IoPort(std::uint16_t base, Spacing spacing, std::unique_ptr<IoSystem> system)
    : base_(base), spacing_(spacing), system_(std::move(system)) {}

IoPort::~IoPort() {
    if (enabled_) system_->ioperm(base_, 2, false);
}

void IoPort::enable() {
    if (!system_) {
        throw bus::PortError(name(base_) + ": ioperm: not available on this processor (direct port I/O needs x86; use ppdev)");
    }
    if (const int result = system_->ioperm(base_, 2, true); result < 0) {
        std::string message = name(base_) + ": ioperm: " + std::strerror(-result);
        if (const char* hint = hintFor(-result)) message += std::string(" (") + hint + ")";
        throw bus::PortError(message);
    }
    enabled_ = true;
}

void IoPort::OutportW(std::uint16_t port, std::uint16_t value) {
    if (port != bus::kDataRegister) throw bus::badRegister(name(base_), "write", port);
    if (!enabled_) enable();
    system_->outb(static_cast<std::uint8_t>(value & 0xFF), base_);  // the data register is 8 bits wide
    spacing_.afterWrite();
}

std::uint16_t IoPort::InportW(std::uint16_t port) {
    if (port != bus::kStatusRegister) throw bus::badRegister(name(base_), "read", port);
    if (!enabled_) enable();
    return system_->inb(static_cast<std::uint16_t>(base_ + 1));
}

}  // namespace ports
