// One program at a time on a port the kernel does not claim for us: an
// exclusive lock named after the port, tried once and never waited for, held
// while the value lives. ports::LockPort says what each outcome means.
#pragma once

#include <memory>
#include <string>

namespace platform {

// Where this user's locks live. On Linux root's are in /run/px77xx, which only
// root can write, so the ports root drives are guarded system-wide; anyone
// else's are in /run/lock/px77xx-UID, made with mode 0700: a port that a user
// can drive without root is that user's own. On Windows, a name in the session.
std::string lockDirectory();

struct LockAttempt {
    enum class Result { Held, InUse, Unusable, Refused };
    Result result = Result::Held;
    long holder = 0;    // InUse: the holder's process id, 0 where it is not known
    std::string where;  // Unusable, Refused: the directory or file concerned
    std::string found;  // Refused: what stands there ("a FIFO", "a file owned by uid 1001")
    int error = 0;      // Unusable: why, as an errno value
};

// The lock itself. Nothing here follows a link or waits: a FIFO, a link or
// another user's file where the lock belongs is refused, never opened for what
// it is; the lock file holds the holder's process id.
class ProgramLock {
public:
    ProgramLock();
    ~ProgramLock();  // releases the lock
    ProgramLock(const ProgramLock&) = delete;
    ProgramLock& operator=(const ProgramLock&) = delete;

    // Tries once to take the lock `name` in `directory`.
    LockAttempt acquire(const std::string& directory, const std::string& name);

private:
    struct Held;  // the system's own handle on the lock
    std::unique_ptr<Held> held_;
};

}  // namespace platform
