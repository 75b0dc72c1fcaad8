// A fixed session of each program on the simulated board, traced in every
// format and compared byte for byte with the traces under golden/, which were
// recorded before the port seam moved to the line level. The decoded format is
// compared without its times, which differ from run to run.
#include "run_program.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using testing_support::runProgram;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each line without its first 12 characters: the time column.
std::string withoutTimes(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) out += (line.size() > 12 ? line.substr(12) : std::string()) + "\n";
    return out;
}

struct Session {
    std::string program;
    std::string actions;
};

const Session kSessions[] = {
    {"a", "code1=200 code2=17 ch1 zero mid ch2 full run read get bit:13=1 bit:17=1 run set 1 200 set 2 0"},
    {"b", "code1=200 code2=17 ch1 zero mid ch2 full run read get bit:13=1 bit:18=1 run shdn set 1 200 shdn get set 2 0"},
};

class GoldenTrace : public testing::TestWithParam<std::string> {};

TEST_P(GoldenTrace, IsByteIdenticalToTheRecordedOne) {
    const std::string extension = GetParam();
    for (const Session& session : kSessions) {
        SCOPED_TRACE("program " + session.program + ", ." + extension);
        const std::string path = testing::TempDir() + "px77xx_golden_" + session.program + "." + extension;
        const auto run = runProgram("--program " + session.program + " --port sim --trace " + path + " " + session.actions,
                                    PXCTL);
        ASSERT_EQ(run.status, 0) << run.err;
        std::string got = readFile(path);
        if (extension == "txt") got = withoutTimes(got);
        EXPECT_EQ(got, readFile(std::string(GOLDEN_DIR) + "/" + session.program + "." + extension));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, GoldenTrace, testing::Values("log", "vcd", "txt"),
                         [](const testing::TestParamInfo<std::string>& row) { return row.param; });

}  // namespace
