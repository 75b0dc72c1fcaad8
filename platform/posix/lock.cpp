// The program lock on POSIX systems: flock on a file in a directory of our own.
#include "platform/lock.h"
#include "platform/posix/stat_text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// The pid is written as UUCP's lock files hold it: ten columns and a newline,
// always the same size, so that a file of ours is never truncated.
constexpr std::size_t kPidLength = 11;
// The kernel's largest pid (PID_MAX_LIMIT on 64-bit).
constexpr long kPidMax = 4194304;

// What stands at a path that is not a lock file of ours: "a FIFO", "a file
// owned by uid 1001"; empty for one that is.
std::string found(const struct stat& st) {
    if (std::string what = whatStands(st); !what.empty()) return what;
    if (st.st_uid != ::geteuid()) return "a file owned by uid " + std::to_string(st.st_uid);
    if (st.st_nlink != 1) return "a file with " + std::to_string(st.st_nlink) + " links";
    return {};
}

std::string foundAt(int dir, const char* name) {
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return std::strerror(errno);
    const std::string what = found(st);
    return what.empty() ? "a file this program cannot open" : what;
}

// The holder's pid, where the file holds one that is plausible and alive.
long holderPid(int fd) {
    char text[kPidLength + 1] = {};
    if (::pread(fd, text, kPidLength + 1, 0) != static_cast<ssize_t>(kPidLength) || text[kPidLength - 1] != '\n') {
        return 0;
    }
    long pid = 0;
    std::size_t i = 0;
    while (i + 1 < kPidLength && text[i] == ' ') ++i;
    if (i + 1 == kPidLength) return 0;
    for (; i + 1 < kPidLength; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        pid = pid * 10 + (text[i] - '0');
    }
    if (pid < 1 || pid > kPidMax) return 0;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM ? pid : 0;
}

LockAttempt unusable(const std::string& where, int error) {
    return {LockAttempt::Result::Unusable, 0, where, {}, error};
}

LockAttempt refused(const std::string& where, const std::string& what) {
    return {LockAttempt::Result::Refused, 0, where, what, 0};
}

}  // namespace

std::string lockDirectory() {
    const uid_t uid = ::geteuid();
    return uid == 0 ? std::string("/run/px77xx") : "/run/lock/px77xx-" + std::to_string(uid);
}

struct ProgramLock::Held {
    explicit Held(int descriptor) : fd(descriptor) {}
    ~Held() { ::close(fd); }  // closing releases the lock
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    int fd;
};

ProgramLock::ProgramLock() = default;
ProgramLock::~ProgramLock() = default;

LockAttempt ProgramLock::acquire(const std::string& directory, const std::string& name) {
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return unusable(directory, errno);
    const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (dir < 0) {
        const int error = errno;
        if (error != ELOOP && error != ENOTDIR) return unusable(directory, error);
        struct stat st {};
        return refused(directory, ::lstat(directory.c_str(), &st) == 0 ? found(st) : std::strerror(error));
    }
    struct stat st {};
    ::fstat(dir, &st);
    if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ::close(dir);
        return refused(directory, st.st_uid != ::geteuid() ? "a directory owned by uid " + std::to_string(st.st_uid)
                                                           : "a directory others can write to");
    }
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::openat(dir, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) fd = ::openat(dir, name.c_str(), kFlags);
    const std::string path = directory + "/" + name;
    if (fd < 0) {
        const std::string what = foundAt(dir, name.c_str());
        ::close(dir);
        return refused(path, what);
    }
    ::close(dir);
    ::fstat(fd, &st);
    if (const std::string what = found(st); !what.empty()) {
        ::close(fd);
        return refused(path, what);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const long holder = holderPid(fd);
        ::close(fd);
        if (error == EWOULDBLOCK) return {LockAttempt::Result::InUse, holder, {}, {}, 0};
        return unusable(path, error);
    }
    char pid[24];  // a pid has at most 7 digits (kPidMax), so the ten columns always hold it
    std::snprintf(pid, sizeof pid, "%10ld\n", static_cast<long>(::getpid()));
    [[maybe_unused]] const auto written = ::pwrite(fd, pid, kPidLength, 0);
    held_ = std::make_unique<Held>(fd);
    return {};
}

}  // namespace platform
