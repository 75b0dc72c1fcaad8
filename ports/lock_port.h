// One program per port where the kernel claims nothing for us (io, lib): an
// advisory lock (flock) on a file named after the port, taken at the first
// access and held until the program ends. A second program is refused with a
// PortError naming the port (and the holder's pid, which the file holds).
#pragma once

#include "bus/port.h"

#include <memory>
#include <optional>
#include <string>

namespace ports {

inline constexpr const char* kLockDirectory = "/run/lock";

class LockPort final : public bus::Port {
public:
    // label: the port as messages name it ("io 0x378"); key: the lock file's
    // name within the directory, without "px77xx-" and ".lock".
    LockPort(std::unique_ptr<bus::Port> inner, std::string label, const std::string& key,
             std::string directory = kLockDirectory);
    ~LockPort() override;

    void OutportW(std::uint16_t port, std::uint16_t value) override;
    std::uint16_t InportW(std::uint16_t port) override;

    // A lock file that could not be used: said once; the port is used anyway.
    std::optional<std::string> takeNotice();

private:
    void acquire();
    // The lock file cannot be used: the port is used unlocked, with a notice.
    void giveUp(int error);

    std::unique_ptr<bus::Port> inner_;
    std::string label_;
    std::string path_;
    int fd_ = -1;
    bool settled_ = false;  // held, or given up on with a notice
    std::string notice_;
};

// A lock key for a file: its name and a hash of its real path, so that two
// paths to one library share a lock and the name stays short.
std::string lockKeyForFile(const std::string& prefix, const std::string& path);

}  // namespace ports
