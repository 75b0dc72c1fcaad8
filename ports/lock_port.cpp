#include "ports/lock_port.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ports {

LockPort::LockPort(std::unique_ptr<bus::Port> inner, std::string label, const std::string& key, std::string directory)
    : inner_(std::move(inner)), label_(std::move(label)), path_(std::move(directory) + "/px77xx-" + key + ".lock") {}

LockPort::~LockPort() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

void LockPort::OutportW(std::uint16_t port, std::uint16_t value) {
    if (!settled_) acquire();
    inner_->OutportW(port, value);
}

std::uint16_t LockPort::InportW(std::uint16_t port) {
    if (!settled_) acquire();
    return inner_->InportW(port);
}

std::optional<std::string> LockPort::takeNotice() {
    if (notice_.empty()) return std::nullopt;
    return std::exchange(notice_, std::string());
}

void LockPort::acquire() {
    // Anyone may lock the file, whoever made it: the holder's pid is written
    // where it can be, and the lock is all that counts.
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        ::fchmod(fd, 0666);
    } else if (errno == EACCES) {
        fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) return giveUp(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char pid[24] = {};
        const ssize_t got = ::pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        if (error == EWOULDBLOCK) {
            const long holder = got > 0 ? std::strtol(pid, nullptr, 10) : 0;
            throw bus::PortError(label_ + " is in use by another program" +
                                 (holder > 0 ? " (pid " + std::to_string(holder) + ")" : std::string()));
        }
        return giveUp(error);
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const auto written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    fd_ = fd;
    settled_ = true;
}

void LockPort::giveUp(int error) {
    notice_ = "cannot lock " + label_ + " for this program alone (" + path_ + ": " + std::strerror(error) +
              "); another program could use the port at the same time";
    settled_ = true;
}

std::string lockKeyForFile(const std::string& prefix, const std::string& path) {
    char resolved[PATH_MAX];
    const std::string real = ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
    std::uint32_t hash = 2166136261U;  // FNV-1a
    for (const char ch : real) hash = (hash ^ static_cast<unsigned char>(ch)) * 16777619U;
    std::string name = real.substr(real.find_last_of('/') + 1);
    for (char& ch : name) {
        const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '.' ||
                           ch == '-' || ch == '_';
        if (!plain) ch = '_';
    }
    if (name.size() > 64) name.resize(64);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", hash);
    return prefix + "-" + name + "-" + hex;
}

}  // namespace ports
