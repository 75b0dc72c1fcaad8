// Small files that must be read and replaced safely where another user may
// write the directory: nothing here follows a symbolic link at the last step,
// waits on a FIFO or reads more than it was asked for, and a file is replaced
// whole, so that a reader sees the old one or the new one, never half of one.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// What went wrong, in a few words: "a FIFO", "larger than 4096 bytes",
// "Permission denied". The caller names the path.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// This user's own settings file for px77xx: $XDG_CONFIG_HOME/px77xx/settings
// (~/.config/px77xx/settings) on Linux, %APPDATA%\px77xx\settings on Windows;
// "" where the environment names no home. It and its folder may not exist yet.
std::string userSettingsFile();

// An environment variable's value as UTF-8; nullopt where it is not set.
std::optional<std::string> environment(const char* name);

// A file opened as stdio does, by a UTF-8 path (wide on Windows, so that a name
// in any language opens).
std::FILE* openFile(const std::string& path, const char* mode);

// A regular file's text, or nullopt where nothing is at path. Anything else at
// the path (a link, FIFO, device, directory) or a file of more than limit bytes
// is refused with what is there.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit);

// Replaces path with text: a new file of a random name in the same directory,
// created where nothing stands, written and flushed to the disk, then put in
// place of path in one step. It keeps the permissions of the file it replaces.
void replaceFile(const std::string& path, std::string_view text);

// Whether replaceFile could put a file at path: a temporary file is made
// beside it and removed. Throws what replaceFile would.
void checkReplaceable(const std::string& path);

// An exclusive lock on path + ".lock", held while the value lives; a second
// holder, in this process or another, waits for it. The lock file is made
// where nothing stands, and used only if it is a regular file with one link.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    struct Held;  // the system's own handle on the lock file
    std::unique_ptr<Held> held_;
};

}  // namespace platform
