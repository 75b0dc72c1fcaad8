// Device nodes as Linux gives them to a user: access(2), the node's group.
#include "platform/linux/devices.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::linux_devices {

bool mayOpen(const std::string& node, std::string& why, const std::string& deniedFix) {
    if (::access(node.c_str(), R_OK | W_OK) == 0) return true;
    const int error = errno;
    struct stat st {};
    if (error == EACCES && !deniedFix.empty()) {
        why = node + ": permission denied: " + deniedFix;
        return false;
    }
    if (error == EACCES && ::stat(node.c_str(), &st) == 0) {
        const group* owner = ::getgrgid(st.st_gid);
        if (owner != nullptr && st.st_gid != 0 && (st.st_mode & S_IRWXG) == (S_IRGRP | S_IWGRP)) {
            why = node + ": permission denied: add your user to the " + std::string(owner->gr_name) +
                  " group, then log in again";
        } else {
            why = node + ": permission denied: only root may open it (a udev rule can give it to a group)";
        }
        return false;
    }
    why = node + ": " + std::strerror(error);
    return false;
}

bool exists(const std::string& node) { return ::access(node.c_str(), F_OK) == 0; }

bool mayUseRawIo() { return ::geteuid() == 0; }

}  // namespace platform::linux_devices
