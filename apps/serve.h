// pxctl serve: the SCPI instrument on a raw TCP socket, one client at a time.
// The sockets are the system's own part (serve_posix.cpp; none on Windows yet).
#pragma once

#include "apps/signals.h"
#include "script/scpi.h"

#include <functional>
#include <string>

namespace apps {

// Where pxctl serve listens unless told: loopback only, since the socket has no
// authentication, on the port instruments use.
inline constexpr const char* kDefaultListen = "127.0.0.1:5025";

// Serves until a signal comes, between lines. Says on standard error where it
// listens and each client that comes and goes; betweenLines is called after
// every line (notices). Returns the exit status: 0 when a signal ended it, 1
// when it could not listen, 2 for an address it cannot read.
int serve(const std::string& listen, script::ScpiInstrument& instrument, const SignalWatch& signals,
          const std::function<void()>& betweenLines);

}  // namespace apps
