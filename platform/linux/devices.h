// Device nodes as Linux gives them to a user, for pxctl detect: whether this
// user may open one, and if not the fix.
#pragma once

#include <string>

namespace platform::linux_devices {

// Whether this user may open a device node for reading and writing, and if not
// why, with the fix: deniedFix where one is known (a udev rule), else the group
// that owns the node, or root.
bool mayOpen(const std::string& node, std::string& why, const std::string& deniedFix = {});

// Whether the node is there at all.
bool exists(const std::string& node);

// Whether this user may use direct port I/O (ioperm): root, or CAP_SYS_RAWIO.
bool mayUseRawIo();

}  // namespace platform::linux_devices
