// Small files on POSIX systems: open with O_NOFOLLOW and O_NONBLOCK, look at
// what was opened before reading, O_EXCL creation for the new file under a
// random name, rename(2) over the old one, flock(2) for the lock.
#include "platform/files.h"
#include "platform/posix/stat_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <utility>

namespace platform {
namespace {

[[noreturn]] void fail(int error) { throw FileError(std::strerror(error)); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Opens path without following a link or waiting on a FIFO, and refuses
// anything but a regular file. -1 with errno ENOENT where nothing is there.
int openRegular(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        if (error == ENOENT) return -1;
        if ((error == ELOOP || error == ENXIO || error == EISDIR || error == EACCES) &&
            ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            throw FileError(whatStands(st));
        }
        fail(error);
    }
    Descriptor held(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail(errno);
    if (!S_ISREG(st.st_mode)) throw FileError(whatStands(st));
    return held.release();
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) fail(written < 0 ? errno : EIO);
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new, empty file beside path under a random name, made by this call alone
// (O_EXCL never opens what someone planted there, link or not), with the
// permissions the umask gives a new file. Its name is put in name.
int makeTemporary(const std::string& path, std::string& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x%08x", random(), random());
        name = path + suffix;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) fail(errno);
    }
    fail(EEXIST);
}

}  // namespace

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit) {
    const int fd = openRegular(path, O_RDONLY);
    if (fd < 0) return std::nullopt;
    Descriptor held(fd);
    std::string text(limit + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(errno);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > limit) throw FileError("larger than " + std::to_string(limit) + " bytes");
    text.resize(got);
    return text;
}

void replaceFile(const std::string& path, std::string_view text) {
    std::string name;
    Descriptor fd(makeTemporary(path, name));
    try {
        // The permissions of the file it replaces, where that is a file.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd.get(), st.st_mode & 0666);
        writeAll(fd.get(), text);
        if (::fsync(fd.get()) != 0) fail(errno);
        if (::close(fd.release()) != 0) fail(errno);
        if (::rename(name.c_str(), path.c_str()) != 0) fail(errno);
    } catch (...) {
        ::unlink(name.c_str());
        throw;
    }
    // The rename lasts once the directory is on the disk too; a failure here
    // loses nothing that a reader could see.
    if (const int dir = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void checkReplaceable(const std::string& path) {
    std::string name;
    const int fd = makeTemporary(path, name);
    ::close(fd);
    ::unlink(name.c_str());
}

struct FileLock::Held {
    explicit Held(int descriptor) : fd(descriptor) {}
    Descriptor fd;
};

FileLock::FileLock(const std::string& path) {
    const std::string name = path + ".lock";
    try {
        const int opened = openRegular(name, O_RDWR | O_CREAT, 0644);
        if (opened < 0) fail(ENOENT);  // the directory is not there
        Descriptor fd(opened);
        struct stat st {};
        ::fstat(fd.get(), &st);
        // A second link would let whoever made it share our lock through another name.
        if (st.st_nlink != 1) throw FileError("a file with " + std::to_string(st.st_nlink) + " links");
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR) fail(errno);
        }
        held_ = std::make_unique<Held>(fd.release());
    } catch (const FileError& e) {
        throw FileError("lock " + name + ": " + e.what());
    }
}

FileLock::~FileLock() = default;  // closing the descriptor releases the lock

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string userSettingsFile() {
    if (const auto config = environment("XDG_CONFIG_HOME"); config && !config->empty() && config->front() == '/') {
        return *config + "/px77xx/settings";
    }
    const auto home = environment("HOME");
    return home && !home->empty() ? *home + "/.config/px77xx/settings" : std::string();
}

}  // namespace platform
