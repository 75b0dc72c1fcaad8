// One openSession for every front end: the program at its address, checking
// acknowledges only where the port leaves that to it, and the trace told of an
// address other than the default.
#include "commands/descriptor.h"
#include "ports/trace_port.h"
#include "script/session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool available(const std::string& backend) {
    for (const ports::Backend* b : ports::backends()) {
        if (b->name == backend) return true;
    }
    return false;
}

TEST(OpenSession, TheProgramIsMadeAsEveryFrontEndMakesIt) {
    struct Row {
        std::string port;
        bool checkAck;
        std::uint8_t address;
        bool programChecks;  // an I2C adapter's kernel checks for itself
    };
    for (const Row& row : {Row{"sim", false, 0x2c, false}, Row{"sim", true, 0x2d, true},
                           Row{"i2c:bus=250", true, 0x2c, false}, Row{"ppdev:dev=/nonexistent", true, 0x10, true}}) {
        SCOPED_TRACE(row.port);
        if (!available(row.port.substr(0, row.port.find(':')))) continue;  // Linux's own, on Windows
        const script::Session session =
            script::openSession(commands::kDescriptorA, {row.port, "", row.checkAck, row.address});
        EXPECT_EQ(session.program->address(), row.address);
        EXPECT_EQ(session.programChecksAck(), row.programChecks);
    }
}

// The check is on where asked for: a board with no device fails the read-back,
// in the first program and in one made again (*RST).
TEST(OpenSession, TheAcknowledgeCheckIsOnInEveryProgramItMakes) {
    for (const bool checkAck : {false, true}) {
        const script::Session session = script::openSession(commands::kDescriptorB, {"sim:device=none", "", checkAck, 0x2c});
        if (checkAck) {
            EXPECT_THROW(session.program->cmdRead_Click(), bus::PortError);
            EXPECT_THROW(session.makeProgram()->cmdRead_Click(), bus::PortError);
        } else {
            EXPECT_NO_THROW(session.program->cmdRead_Click());
            EXPECT_NO_THROW(session.makeProgram()->cmdRead_Click());
        }
    }
}

TEST(OpenSession, TheTraceNamesAnAddressOtherThanTheDefault) {
    const std::string path = testing::TempDir() + "session_address.txt";
    {
        script::Session session = script::openSession(commands::kDescriptorB, {"sim", path, false, 0x2d});
        session.program->cmdRead_Click();
        session.port.trace->close();
    }
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find(ports::addressHeader(0x2d)), std::string::npos) << text.str();
    std::remove(path.c_str());
}

TEST(OpenSession, ABadPortStringIsRefusedBeforeAnythingIsMade) {
    EXPECT_THROW(script::openSession(commands::kDescriptorB, {"nope", "", false, 0x2c}), ports::ConfigError);
}

}  // namespace
