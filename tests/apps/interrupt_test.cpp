// pxctl stopped by a signal while it runs 40 actions on a slow port: the frame
// under way completes, the port has seen whole frames only, the trace holds
// every access the port saw, and the exit status is 128 + the signal.
#include "process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testing_support;

struct Interrupt {
    std::string name;
    int signal;
    std::string signalName;
};

class Interrupted : public testing::TestWithParam<Interrupt> {};

TEST_P(Interrupted, StopsAfterAWholeFrameWithTheTraceComplete) {
    const Interrupt& row = GetParam();
    const std::string portLog = testing::TempDir() + "px77xx_port_" + row.name + ".log";
    const std::string trace = testing::TempDir() + "px77xx_trace_" + row.name + ".log";
    std::remove(portLog.c_str());
    // A copy of its own: each run locks the library it uses, and the tests run side by side.
    const std::string library = testing::TempDir() + "px77xx_slow_" + row.name + ".so";
    std::filesystem::copy_file(SLOW_PORT_LIBRARY, library, std::filesystem::copy_options::overwrite_existing);
    std::vector<std::string> arguments{"--port", "lib:path=" + library, "--trace", trace};
    for (int code = 1; code <= 40; ++code) arguments.insert(arguments.end(), {"set", "1", std::to_string(code)});
    const Spawned run = spawnProgram(PXCTL, arguments, {"PX77XX_PORT_LOG=" + portLog}, row.name);

    // Some ten frames in (2 ms a write), wherever the eleventh has got to.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fileLines(portLog).size() < 600 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(kill(run.pid, row.signal), 0);
    EXPECT_EQ(waitExit(run), 128 + row.signal);

    const auto accesses = fileLines(portLog);
    ASSERT_GE(accesses.size(), 600U);
    EXPECT_EQ(accesses.size() % 59, 0U) << accesses.size() << " writes: not whole frames of 59";
    EXPECT_EQ(accesses.back(), "out 0x378 0xf3");  // a frame's last write, the stop condition
    EXPECT_EQ(fileLines(trace), accesses);
    const std::size_t ran = accesses.size() / 59;
    EXPECT_EQ(fileText(run.errFile),
              "pxctl: interrupted by " + row.signalName + " after action " + std::to_string(ran) + " of 40\n");
    EXPECT_LT(ran, 40U);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted,
                         testing::Values(Interrupt{"term", SIGTERM, "SIGTERM"}, Interrupt{"int", SIGINT, "SIGINT"},
                                         Interrupt{"hup", SIGHUP, "SIGHUP"}),
                         [](const testing::TestParamInfo<Interrupt>& row) { return row.param.name; });

}  // namespace

namespace {

using namespace testing_support;

// Two programs on one library port at once: the second is refused at once,
// naming the port, and the first goes on undisturbed.
TEST(OnePort, ASecondPxctlIsRefusedAndTheFirstSendsWholeFrames) {
    const std::string portLog = testing::TempDir() + "px77xx_port_shared.log";
    std::remove(portLog.c_str());
    const std::string library = testing::TempDir() + "px77xx_slow_shared.so";
    std::filesystem::copy_file(SLOW_PORT_LIBRARY, library, std::filesystem::copy_options::overwrite_existing);
    std::vector<std::string> arguments{"--port", "lib:path=" + library};
    for (int code = 1; code <= 10; ++code) arguments.insert(arguments.end(), {"set", "1", std::to_string(code)});
    const Spawned first = spawnProgram(PXCTL, arguments, {"PX77XX_PORT_LOG=" + portLog}, "first");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fileLines(portLog).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const Spawned second = spawnProgram(PXCTL, {"--port", "lib:path=" + library, "set", "2", "7"},
                                        {"PX77XX_PORT_LOG=" + portLog}, "second");
    EXPECT_EQ(waitExit(second), 1);
    EXPECT_EQ(fileText(second.errFile), "pxctl: set 2 7: not sent: lib " + library +
                                            " is in use by another program (pid " + std::to_string(first.pid) +
                                            ") (action 1; 0 ran before it)\n");
    EXPECT_EQ(waitExit(first), 0);
    const auto accesses = fileLines(portLog);
    EXPECT_EQ(accesses.size(), 10U * 59U);
    for (std::size_t frame = 0; frame + 1 < accesses.size(); frame += 59) {
        EXPECT_EQ(accesses[frame], "out 0x378 0xf3");
        EXPECT_EQ(accesses[frame + 58], "out 0x378 0xf3");
    }
}

}  // namespace
