// An ONC RPC program's TCP port registered with the system's portmapper
// (rpcbind) for as long as the object lives, so that clients that ask it (VISA
// opening TCPIP::host::INSTR, lxi-tools) find pxctl serve's VXI-11 channel.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class PortmapperEntry {
public:
    PortmapperEntry(std::uint32_t program, std::uint32_t version, std::uint16_t port);
    ~PortmapperEntry();
    PortmapperEntry(const PortmapperEntry&) = delete;
    PortmapperEntry& operator=(const PortmapperEntry&) = delete;

    bool registered() const { return registered_; }
    // Where it is not registered: why, in a few words ("no portmapper runs here").
    const std::string& why() const { return why_; }

private:
    std::uint32_t program_;
    std::uint32_t version_;
    bool registered_ = false;
    std::string why_;
};

}  // namespace platform
