// The programs' command line: options parsed, and every bad one refused with one
// line and exit status 2 before any window opens.
#include "frontend/command_line.h"
#include "frontend/detect.h"
#include "frontend/window_start.h"
#include "ports/factory.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using testing_support::runProgram;
using testing_support::ProcessResult;

TEST(CommandLine, DefaultsAndForms) {
    auto line = frontend::parseCommandLine({});
    EXPECT_EQ(line.port, "ppdev:dev=/dev/parport0");
    EXPECT_EQ(line.trace, "");
    line = frontend::parseCommandLine({"--port", "sim", "--trace=bus.vcd"});
    EXPECT_EQ(line.port, "sim");
    EXPECT_EQ(line.trace, "bus.vcd");
    line = frontend::parseCommandLine({"--port=lib:path=/opt/my ports/x.so", "--version"});
    EXPECT_EQ(line.port, "lib:path=/opt/my ports/x.so");
    EXPECT_TRUE(line.version);
    EXPECT_TRUE(frontend::parseCommandLine({"-h"}).help);
}

// --address: parsed for both front ends, named where it is not the default.
TEST(CommandLine, AddressAndWhereItIsNamed) {
    EXPECT_EQ(frontend::parseCommandLine({}).address, 0x2c);
    EXPECT_EQ(frontend::parseCommandLine({"--address", "0x2d"}).address, 0x2d);
    EXPECT_EQ(frontend::parseCommandLine({"--address=45"}, frontend::Front::Pxctl).address, 45);
    EXPECT_EQ(frontend::portTitle("ppdev /dev/parport0", 0x2c), "ppdev /dev/parport0");
    EXPECT_EQ(frontend::portTitle("ppdev /dev/parport0", 0x2d), "ppdev /dev/parport0, device at 0x2d");
    EXPECT_EQ(frontend::addressHeader(0x2d), "device address 0x2d (address bytes 0x5a and 0x5b)");
    EXPECT_EQ(frontend::parseCommandLine({"--port", "sim", "--", "--json", "-x"}, frontend::Front::Pxctl).actions,
              (std::vector<std::string>{"--json", "-x"}));
}

// pxctl serve's own options: absent unless given, each in its range, and
// refused by the window programs, which serve nothing.
TEST(CommandLine, ServeOptions) {
    const auto none = frontend::parseCommandLine({"serve"}, frontend::Front::Pxctl);
    EXPECT_EQ(none.clients, std::nullopt);
    EXPECT_EQ(none.idleTimeout, std::nullopt);
    const auto given = frontend::parseCommandLine({"--clients", "64", "--idle-timeout=0", "serve"}, frontend::Front::Pxctl);
    EXPECT_EQ(given.clients, 64);
    EXPECT_EQ(given.idleTimeout, 0);
    for (const auto& [arguments, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--clients", "65"}, "--clients 65 is not a number of clients; give 1..64 (4, the default)"},
             {{"--clients", "x"}, "--clients x is not a number of clients; give 1..64 (4, the default)"},
             {{"--idle-timeout", "86401"}, "--idle-timeout 86401 is not a number of seconds; give 0..86400 (0: keep "
                                           "a silent client for ever; 300, the default)"},
             {{"--address", "0x78"}, "--address 0x78 is not a 7-bit device address; give 0x08..0x77 (0x2c, the "
                                     "default, makes the address bytes 0x58 and 0x59)"}}) {
        try {
            frontend::parseCommandLine(arguments, frontend::Front::Pxctl);
            ADD_FAILURE() << arguments[0] << " " << arguments[1] << " was accepted";
        } catch (const frontend::UsageError& e) {
            EXPECT_EQ(e.what(), message);
        }
    }
    EXPECT_THROW(frontend::parseCommandLine({"--clients", "2"}), frontend::UsageError);
}

// Every --port string the README shows must open as written.
TEST(Readme, EveryPortStringItShowsIsAccepted) {
    std::ifstream readme(README_FILE);
    ASSERT_TRUE(readme) << README_FILE;
    int checked = 0;
    for (std::string text; std::getline(readme, text);) {
        // A Windows command line's port strings are Windows' (ftdi's D2XX forms), run under wine.
        if (text.find(".exe ") != std::string::npos) continue;
        for (auto at = text.find("--port"); at != std::string::npos; at = text.find("--port", at + 1)) {
            const auto from = at + 7;
            if (from >= text.size() || (text[from - 1] != ' ' && text[from - 1] != '=')) continue;
            const std::string spec = text.substr(from, text.find_first_of(" `'\")", from) - from);
            if (spec == "PORT" || spec.rfind("BACKEND", 0) == 0) continue;  // the usage line's placeholders
            SCOPED_TRACE(spec);
            // A backend this build leaves out says why instead (tested beside the table).
            const std::string name = spec.substr(0, spec.find(':'));
            const auto table = ports::backendTable();
            if (std::any_of(table.begin(), table.end(), [&](auto* b) { return b->name == name && !b->available(); })) {
                continue;
            }
            EXPECT_NO_THROW(ports::openPort(spec));
            ++checked;
        }
    }
    EXPECT_GE(checked, 5);
}

}  // namespace

// --scan opens the port without its /SHDN line: only the shdn= key goes.
TEST(CommandLine, AScanDropsTheShutdownLineAlone) {
    const std::pair<std::string, std::string> cases[] = {
        {"gpio:chip=gpiochip0,sda=17,scl=27,shdn=22", "gpio:chip=gpiochip0,sda=17,scl=27"},
        {"ftdi:shdn=3", "ftdi"},
        {"ftdi:shdn=3,sda=1", "ftdi:sda=1"},
        {"i2c:bus=1", "i2c:bus=1"},
        {"sim", "sim"},
    };
    for (const auto& [given, opened] : cases) EXPECT_EQ(frontend::withoutShutdownLine(given), opened) << given;
}

// The chooser comes first only where --choose-port asks for it and the
// command line is sound; help, version and a bad option go to the window's start.
TEST(CommandLine, TheChooserIsRequestedByChoosePortAlone) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"--choose-port"}, true},
        {{"--choose-port", "--address", "0x2d"}, true},
        {{}, false},
        {{"--port", "sim"}, false},
        {{"--choose-port", "--help"}, false},
        {{"--choose-port", "--bogus"}, false},
    };
    for (const auto& [arguments, requested] : cases) {
        const auto line = frontend::chooserRequest(arguments);
        EXPECT_EQ(line.has_value(), requested) << (arguments.empty() ? "" : arguments.back());
    }
    EXPECT_EQ(frontend::chooserRequest({"--choose-port", "--address", "0x2d"})->address, 0x2d);
}
