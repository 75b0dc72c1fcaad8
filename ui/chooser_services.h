// The port chooser's services, the same for both views: detect's list, the
// probe at the program's address, and the default port saved in the user's
// settings.
#pragma once

#include "commands/descriptor.h"
#include "frontend/detect.h"
#include "frontend/settings.h"
#include "ports/detect.h"
#include "view/chooser.h"

#include <cstdint>

namespace ui {

inline view::ChooserServices chooserServices(const commands::Descriptor& program, std::uint8_t address) {
    view::ChooserServices services;
    services.detect = [] {
        std::vector<view::PortRow> rows;
        for (const ports::DetectedPort& p : ports::detectPorts()) rows.push_back({p.port, p.description, p.usable, p.why});
        return rows;
    };
    services.test = [&program, address](const std::string& port) {
        return frontend::probeSentence(port, program, address);
    };
    services.save = [](const std::string& port) {
        const std::string where = frontend::saveDefaultPort(port);  // throws UsageError, a std::exception
        return "Saved: the windows, pxctl and the Python module open " + port + " from now on (" + where + ").";
    };
    services.current = frontend::userDefaultPort();
    return services;
}

}  // namespace ui
