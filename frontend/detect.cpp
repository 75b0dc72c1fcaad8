#include "frontend/detect.h"

#include "frontend/command_line.h"

#include "bus/transactions.h"
#include "ports/detect.h"
#include "ports/factory.h"
#include "script/json.h"

#include <algorithm>
#include <cstdio>

namespace frontend {

int listPorts(bool json) {
    const auto found = ports::detectPorts();
    std::size_t width = 0;
    for (const auto& p : found) width = std::max(width, p.port.size());
    for (const auto& p : found) {
        if (json) {
            std::string line = "{\"kind\":" + script::jsonQuoted(p.kind) + ",\"port\":" + script::jsonQuoted(p.port) +
                               ",\"description\":" + script::jsonQuoted(p.description) +
                               ",\"usable\":" + (p.usable ? "true" : "false");
            if (!p.usable) line += ",\"why\":" + script::jsonQuoted(p.why);
            std::printf("%s}\n", line.c_str());
        } else {
            std::printf("%-*s  %s; %s\n", static_cast<int>(width), p.port.c_str(), p.description.c_str(),
                        p.usable ? "usable" : ("not usable: " + p.why).c_str());
        }
    }
    return 0;
}

int probePorts(const std::vector<std::string>& names, const commands::Descriptor& program, std::uint8_t address,
               bool json) {
    std::vector<ports::ProgramPort> opened;
    for (const std::string& name : names) opened.push_back(ports::openProgramPort(name, ""));
    const std::string at = addressText(address);
    const auto readAddress = bus::readAddressOf(static_cast<std::uint8_t>((address << 1) | 1));
    int status = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        bool answered = false;
        std::string error;
        try {
            // A read-back alone: the wipers and the selected channel are left as
            // they are, and so is /SHDN where the data register says where it is
            // (a shut-down board stays shut down). ppdev and the adapters cannot
            // read it back: there the probe's lines raise it, as --help says.
            bus::LineCodes codes = program.variant.frame.codes;
            try {
                if ((opened[i].port->InportW(bus::kDataRegister) & bus::kShutdownLine) == 0) {
                    codes = bus::LineCodes::withPattern(
                        static_cast<std::uint8_t>(codes.byLevels[0] & ~bus::kShutdownLine));
                }
            } catch (const bus::PortError&) {
                // Not readable here; a port that fails outright fails the read-back too.
            }
            bus::readBack(*opened[i].port, codes, readAddress, !opened[i].carriesTransactions());
            answered = true;
        } catch (const bus::PortError& e) {
            error = ports::displayable(e.what());
        }
        if (!answered) status = 1;
        const bool nobody = error.find("no device answered") != std::string::npos;
        if (json) {
            std::string line = "{\"port\":" + script::jsonQuoted(names[i]) + ",\"address\":\"" + at +
                               "\",\"answered\":" + (answered ? "true" : "false");
            if (!answered) line += ",\"error\":" + script::jsonQuoted(error);
            std::printf("%s}\n", line.c_str());
        } else if (answered) {
            std::printf("%s: a device answered at %s\n", names[i].c_str(), at.c_str());
        } else if (nobody) {
            std::printf("%s: no device answered at %s\n", names[i].c_str(), at.c_str());
        } else {
            std::printf("%s: cannot probe: %s\n", names[i].c_str(), error.c_str());
        }
    }
    return status;
}

}  // namespace frontend
