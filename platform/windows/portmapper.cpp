#include "platform/portmapper.h"

namespace platform {

PortmapperEntry::PortmapperEntry(std::uint32_t program, std::uint32_t version, std::uint16_t)
    : program_(program), version_(version), why_("Windows has no portmapper") {}

PortmapperEntry::~PortmapperEntry() = default;

}  // namespace platform
