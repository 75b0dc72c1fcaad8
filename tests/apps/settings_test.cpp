// The user's defaults: which source wins for each setting, and every bad line
// of the settings file refused with the file and line named.
#include "frontend/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SourceCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* environment;  // PX77XX_PORT; nullptr: not set
    const char* file;
    std::string port, address, checkAck;   // what is in force
    std::string portWhere;                 // where the port came from
};

class Sources : public testing::TestWithParam<SourceCase> {};

TEST_P(Sources, TheCommandLineThenTheEnvironmentThenTheFileThenTheBuiltInDefault) {
    const SourceCase& c = GetParam();
    frontend::UserSettings settings = frontend::parseSettings(c.file, "/home/u/.config/px77xx/settings");
    if (c.environment != nullptr) settings.portFromEnvironment = c.environment;
    frontend::CommandLine line = frontend::parseCommandLine(c.arguments, frontend::Front::Pxctl);
    const auto inForce = frontend::settingsInForce(line, settings);
    ASSERT_EQ(inForce.size(), 3U);
    EXPECT_EQ(inForce[0].value, c.port);
    EXPECT_EQ(inForce[0].where, c.portWhere);
    EXPECT_EQ(inForce[1].value, c.address);
    EXPECT_EQ(inForce[2].value, c.checkAck);
    // What the front ends open is what config says.
    frontend::applySettings(line, settings);
    EXPECT_EQ(line.port, c.port);
    EXPECT_EQ(frontend::addressText(line.address), c.address);
    EXPECT_EQ(line.checkAck ? "yes" : "no", c.checkAck);
}

const char* const kFile = "# mine\nport = sim:state=/tmp/b\naddress = 0x2d\ncheck-ack = yes\n";

INSTANTIATE_TEST_SUITE_P(
    Settings, Sources,
    testing::Values(
        SourceCase{"none", {"get"}, nullptr, "", ports::defaultPort(), "0x2c", "no", "built in"},
        SourceCase{"file", {"get"}, nullptr, kFile, "sim:state=/tmp/b", "0x2d", "yes",
                   "/home/u/.config/px77xx/settings:2"},
        SourceCase{"environment_over_file", {"get"}, "sim", kFile, "sim", "0x2d", "yes", "PX77XX_PORT"},
        SourceCase{"environment_alone", {"get"}, "i2c:bus=1", "", "i2c:bus=1", "0x2c", "no", "PX77XX_PORT"},
        SourceCase{"option_over_both", {"--port", "io", "--address", "0x30", "get"}, "sim", kFile, "io", "0x30", "yes",
                   "--port"},
        SourceCase{"check_ack_option", {"--check-ack", "get"}, nullptr, "check-ack = no\n", ports::defaultPort(),
                   "0x2c", "yes", "built in"}),
    [](const testing::TestParamInfo<SourceCase>& row) { return row.param.name; });

TEST(Settings, EveryBadLineIsRefusedWithTheFileAndLine) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"port sim\n", "f:1: 'port sim' is not key = value (port, address or check-ack)"},
        {"\n\ncolour = red\n", "f:3: unknown key 'colour'; the keys are port, address or check-ack"},
        {"port = sim\nport = io\n", "f:2: port is given twice"},
        {"address = 0x78\n", "f:1: address = 0x78 is not a 7-bit device address; give 0x08..0x77"},
        {"check-ack = maybe\n", "f:1: check-ack = maybe is neither yes nor no"},
        {"port =\n", "f:1: port =  has no value"},
    };
    for (const auto& [text, message] : cases) {
        try {
            (void)frontend::parseSettings(text, "f");
            ADD_FAILURE() << text << " was taken";
        } catch (const frontend::UsageError& e) {
            EXPECT_EQ(e.what(), message);
        }
    }
    // Comments, blank lines, spaces and CR LF line ends are the file's own business.
    const auto settings = frontend::parseSettings("# a comment\r\n\r\n  port=sim  \r\ncheck-ack = On\r\n", "f");
    ASSERT_NE(settings.find("port"), nullptr);
    EXPECT_EQ(settings.find("port")->value, "sim");
    EXPECT_EQ(settings.find("port")->line, 3);
    EXPECT_EQ(settings.find("check-ack")->value, "On");
}

}  // namespace
