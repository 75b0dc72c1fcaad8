#include "platform/announce.h"

namespace platform {

struct Announcement::State {};

Announcement::Announcement(const std::string&, const std::string&, std::vector<DnsSdService>) {}
Announcement::~Announcement() = default;

std::string Announcement::outcome(std::chrono::milliseconds) {
    return "not announced: this Windows build does not announce over DNS-SD";
}

bool Announcement::announced() const { return false; }

}  // namespace platform
