// The running process, as the system numbers it.
#pragma once

namespace platform {

// This process's id: a value that a forked child does not share with its parent.
long processId();

}  // namespace platform
