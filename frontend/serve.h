// pxctl serve: the SCPI instrument on a raw TCP socket and on a VXI-11 core
// channel (registered with the portmapper where one runs), for a few clients
// at a time. The sockets are the platform's (platform/listener.h).
#pragma once

#include "platform/signals.h"
#include "script/scpi.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace frontend {

// Where pxctl serve listens unless told: loopback only, since the socket has no
// authentication, on the port instruments use.
inline constexpr const char* kDefaultListen = "127.0.0.1:5025";

struct ServeOptions {
    std::string listen = kDefaultListen;
    // Clients served at once, each with its own lines and answers; their
    // commands take turns, so frames never interleave. One more is closed at once.
    int clients = 4;
    // A client that sends nothing for this long is closed; zero keeps it for
    // ever. TCP keepalive finds a host that vanished sooner.
    std::chrono::seconds idleTimeout{300};
    // The VXI-11 channel's address; empty: listen's host, on a port the system
    // picks (clients ask the portmapper); "off": none.
    std::string vxi11;
    // Announce the channels over DNS-SD (--no-announce: not), as name, with
    // txt ("key=value") on each.
    bool announce = true;
    std::string name = "px77xx";
    std::vector<std::string> txt;
};

// Serves until a signal comes, between commands. Says on standard error where
// it listens and each client that comes and goes; betweenLines is called after
// every line (notices). Returns the exit status: 0 when a signal ended it, 1
// when it could not listen, 2 for an address it cannot read.
int serve(const ServeOptions& options, script::ScpiInstrument& instrument, const platform::SignalWatch& signals,
          const std::function<void()>& betweenLines);

}  // namespace frontend
