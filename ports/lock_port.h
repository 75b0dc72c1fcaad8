// One program per port where the kernel claims nothing for us (io, lib): an
// advisory lock (flock) on a file named after the port, taken at the first
// access and held until the program ends. A second program is refused with a
// PortError naming the port (and the holder's pid, which the file holds).
//
// The lock lives in a directory of our own that no other user can write, so
// that nobody else can hold it, fake it, or plant something at its path: a
// lock file is used only if it is a regular file with one link, owned by us.
#pragma once

#include "bus/port.h"
#include "platform/lock.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ports {

using platform::lockDirectory;

class LockPort final : public bus::Port {
public:
    // label: the port as messages name it ("io 0x378"); key: the lock file's
    // name within the directory, without ".lock".
    LockPort(std::unique_ptr<bus::Port> inner, std::string label, const std::string& key,
             std::string directory = lockDirectory());
    ~LockPort() override;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    // A lock directory that could not be made or opened: said once; the port
    // is used anyway.
    std::optional<std::string> takeNotice();

private:
    void acquire();
    // The lock cannot be used: the port is used unlocked, with a notice.
    void giveUp(const std::string& where, int error);
    // Something at the lock's path that must not be used: the port is refused.
    [[noreturn]] void refuse(const std::string& where, const std::string& found) const;

    std::unique_ptr<bus::Port> inner_;
    std::string label_;
    std::string directory_;
    std::string name_;
    platform::ProgramLock lock_;
    bool settled_ = false;  // held, or given up on with a notice
    std::string notice_;
};

// A lock key for a file: its name and a hash of its path, which the caller has
// made absolute and resolved, so that two paths to one library share a lock
// and the name stays short.
std::string lockKeyForFile(const std::string& prefix, const std::string& path);

}  // namespace ports
