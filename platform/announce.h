// Services announced over DNS-SD (multicast DNS) while the object lives, so
// that lxi discover -m and VISA's browsers find pxctl serve; withdrawn when it
// goes. On Linux through the Avahi daemon, where it runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct DnsSdService {
    std::string type;  // "_scpi-raw._tcp"
    std::uint16_t port;
    std::vector<std::string> txt;  // "key=value"
};

class Announcement {
public:
    // name: the instance's name, made unique on the network where another
    // has it ("name #2"). host: the address serve listens on, which decides
    // where it is announced: loopback alone for 127.0.0.1, the interface
    // holding a given address, every interface for 0.0.0.0 or ::.
    Announcement(const std::string& name, const std::string& host, std::vector<DnsSdService> services);
    ~Announcement();
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;

    // What became of it, waiting at most wait for the daemon's word:
    // "announced as NAME on lo", or why not.
    std::string outcome(std::chrono::milliseconds wait);
    bool announced() const;

    struct State;  // the system's own

private:
    std::unique_ptr<State> state_;
};

}  // namespace platform
