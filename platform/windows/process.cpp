// The running process on Windows.
#include "platform/process.h"

#include <windows.h>

namespace platform {

long processId() { return static_cast<long>(::GetCurrentProcessId()); }

}  // namespace platform
