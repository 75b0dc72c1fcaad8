// The running process on POSIX systems.
#include "platform/process.h"

#include <unistd.h>

namespace platform {

long processId() { return static_cast<long>(::getpid()); }

}  // namespace platform
