#include "frontend/detect.h"

#include "frontend/command_line.h"

#include "bus/transactions.h"
#include "ports/detect.h"
#include "ports/factory.h"
#include "script/json.h"

#include <algorithm>
#include <cstdio>
#include <optional>

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

namespace {

// The codes for a read-back that leaves /SHDN where the data register says it
// is; nullopt where the register cannot be read back.
std::optional<bus::LineCodes> codesKeepingShutdown(bus::Port& port, const commands::Descriptor& program) {
    bus::LineCodes codes = program.variant.frame.codes;
    try {
        if ((port.InportW(bus::kDataRegister) & bus::kShutdownLine) == 0) {
            codes = bus::LineCodes::withPattern(static_cast<std::uint8_t>(codes.byLevels[0] & ~bus::kShutdownLine));
        }
        return codes;
    } catch (const bus::PortError&) {
        return std::nullopt;
    }
}

}  // namespace

std::string withoutShutdownLine(const std::string& port) {
    const auto colon = port.find(':');
    if (colon == std::string::npos) return port;
    std::string kept;
    std::size_t at = colon + 1;
    while (at <= port.size()) {
        const auto comma = std::min(port.find(',', at), port.size());
        const std::string item = port.substr(at, comma - at);
        if (item.rfind("shdn=", 0) != 0) kept += (kept.empty() ? "" : ",") + item;
        at = comma + 1;
    }
    return port.substr(0, colon) + (kept.empty() ? "" : ":" + kept);
}

int scanPort(const std::string& name, const commands::Descriptor& program, bool json) {
    const std::string used = withoutShutdownLine(name);
    ports::ProgramPort opened = ports::openProgramPort(used, "");
    std::optional<bus::LineCodes> codes = program.variant.frame.codes;
    std::string error;
    std::vector<std::string> answered;
    try {
        // Where the adapter carries whole transactions, no line is driven but
        // the bus's own; elsewhere the frames drive the data register whole.
        if (!opened.carriesTransactions()) codes = codesKeepingShutdown(*opened.port, program);
        if (!codes) {
            throw frontend::UsageError("--scan: " + ports::printable(name) + " cannot read back its data register, so "
                                       "every read-back would drive /SHDN high; scan through a port that can (io, "
                                       "lib) or an adapter whose /SHDN is a line of its own");
        }
        for (unsigned address = 0x08; address <= 0x77; ++address) {
            const auto readAddress = bus::readAddressOf(static_cast<std::uint8_t>((address << 1) | 1));
            try {
                bus::readBack(*opened.port, *codes, readAddress, !opened.carriesTransactions());
                answered.push_back(addressText(static_cast<std::uint8_t>(address)));
            } catch (const bus::PortError& e) {
                if (std::string(e.what()).find("no device answered") == std::string::npos) throw;
            }
        }
    } catch (const bus::PortError& e) {
        error = ports::displayable(e.what());
    }
    if (json) {
        std::string line = "{\"port\":" + script::jsonQuoted(name) + ",\"scanned\":\"0x08..0x77\",\"answered\":[";
        for (std::size_t i = 0; i < answered.size(); ++i) line += (i ? ",\"" : "\"") + answered[i] + "\"";
        line += "]";
        if (!error.empty()) line += ",\"error\":" + script::jsonQuoted(error);
        std::printf("%s}\n", line.c_str());
    } else if (!error.empty()) {
        std::printf("%s: cannot scan: %s\n", name.c_str(), error.c_str());
    } else if (answered.empty()) {
        std::printf("%s: no device answered at 0x08..0x77\n", name.c_str());
    } else {
        std::string list;
        for (const std::string& a : answered) list += (list.empty() ? "" : " ") + a;
        std::printf("%s: %s at %s\n", name.c_str(), answered.size() == 1 ? "a device answered" : "devices answered",
                    list.c_str());
    }
    return error.empty() && !answered.empty() ? 0 : 1;
}

std::string probeSentence(const std::string& port, const commands::Descriptor& program, std::uint8_t address) {
    const std::string at = addressText(address);
    try {
        ports::ProgramPort opened = ports::openProgramPort(port, "");
        const auto codes = codesKeepingShutdown(*opened.port, program).value_or(program.variant.frame.codes);
        bus::readBack(*opened.port, codes, bus::readAddressOf(static_cast<std::uint8_t>((address << 1) | 1)),
                      !opened.carriesTransactions());
        return "A device answered at " + at + " on " + port + ".";
    } catch (const bus::PortError& e) {
        const std::string error = ports::displayable(e.what());
        if (error.find("no device answered") != std::string::npos) return "No device answered at " + at + " on " + port + ".";
        return "Cannot test " + port + ": " + error;
    } catch (const std::exception& e) {
        return "Cannot test " + port + ": " + ports::displayable(e.what());
    }
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
            // Not readable here: the frames' own level. A port that fails
            // outright fails the read-back too.
            const bus::LineCodes codes =
                codesKeepingShutdown(*opened[i].port, program).value_or(program.variant.frame.codes);
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
