// What stands at a path, in the words messages use, from what stat(2) says.
#pragma once

#include <string>
#include <sys/stat.h>

namespace platform {

// "a FIFO", "a directory", ...; empty for a regular file.
inline std::string whatStands(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return {};
    if (S_ISLNK(st.st_mode)) return "a symbolic link";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    return "not a regular file";
}

}  // namespace platform
