// What the lock does on every system: taken at the first access, and what it
// tells; platform::ProgramLock takes it.
#include "ports/lock_port.h"

#include "ports/options.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace ports {

LockPort::LockPort(std::unique_ptr<bus::Port> inner, std::string label, const std::string& key, std::string directory)
    : inner_(std::move(inner)), label_(std::move(label)), directory_(std::move(directory)), name_(key + ".lock") {}

void LockPort::OutportW(std::uint16_t port, std::uint16_t value) {
    if (!settled_) acquire();
    inner_->OutportW(port, value);
}

std::uint16_t LockPort::InportW(std::uint16_t port) {
    if (!settled_) acquire();
    return inner_->InportW(port);
}

LockPort::~LockPort() = default;

void LockPort::acquire() {
    const platform::LockAttempt attempt = lock_.acquire(directory_, name_);
    switch (attempt.result) {
        case platform::LockAttempt::Result::Held: settled_ = true; return;
        case platform::LockAttempt::Result::InUse:
            throw bus::PortError(label_ + " is in use by another program" +
                                 (attempt.holder > 0 ? " (pid " + std::to_string(attempt.holder) + ")" : std::string()))
                .because(EBUSY);
        case platform::LockAttempt::Result::Unusable: return giveUp(attempt.where, attempt.error);
        case platform::LockAttempt::Result::Refused: refuse(attempt.where, attempt.found);
    }
}

std::optional<std::string> LockPort::takeNotice() {
    if (notice_.empty()) return std::nullopt;
    return std::exchange(notice_, std::string());
}

void LockPort::giveUp(const std::string& where, int error) {
    notice_ = "cannot lock " + label_ + " for this program alone (" + displayable(where) + ": " + std::strerror(error) +
              "); another program could use the port at the same time";
    settled_ = true;
}

void LockPort::refuse(const std::string& where, const std::string& what) const {
    throw bus::PortError(label_ + ": lock " + displayable(where) + " is " + what +
                         ", not a lock file of this user's (remove it, or ask who made it)");
}

}  // namespace ports
