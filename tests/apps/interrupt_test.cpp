// pxctl stopped by a signal while it runs 40 actions on a slow port: the frame
// under way completes, the port has seen whole frames only, the trace holds
// every access the port saw, and the exit status is 128 + the signal.
#include "ports/lock_port.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
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
    waitForLines(portLog, 600);
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
    waitForLines(portLog, 1);
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

namespace {

using namespace testing_support;

// pxctl with its standard output on a pipe the test holds, and its standard
// error in a file. The test reads the pipe, or not, or has closed it.
struct Piped {
    pid_t pid = -1;
    int reader = -1;
    std::string errFile;
};

Piped spawnOnPipe(const std::vector<std::string>& arguments, bool readerGone, const std::string& name) {
    Piped run;
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    run.errFile = testing::TempDir() + "px77xx_piped_err_" + name + ".txt";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, fds[1], 1);
    posix_spawn_file_actions_addclose(&files, fds[0]);
    posix_spawn_file_actions_addclose(&files, fds[1]);
    posix_spawn_file_actions_addopen(&files, 2, run.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv{PXCTL};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (readerGone) ::close(fds[0]);
    EXPECT_EQ(posix_spawn(&run.pid, PXCTL, &files, nullptr, pointersTo(argv).data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    ::close(fds[1]);
    run.reader = readerGone ? -1 : fds[0];
    return run;
}

int exitOf(pid_t pid) {
    int raw = 0;
    if (waitpid(pid, &raw, 0) != pid) return -2;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// A reader that stops reading fills the pipe and holds pxctl in write(); a
// signal must still end it, at once and between frames. (SA_RESTART kept it
// waiting until the reader died.)
TEST(BlockedOutput, SigtermEndsPxctlWithinASecondWithWholeFrames) {
    const std::string trace = testing::TempDir() + "px77xx_blocked.log";
    std::vector<std::string> arguments{"--json", "--port", "sim", "--trace", trace};
    for (int i = 0; i < 5000; ++i) arguments.emplace_back("get");
    const Piped run = spawnOnPipe(arguments, false, "blocked");
    const int capacity = ::fcntl(run.reader, F_GETPIPE_SZ);
    int queued = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (queued < capacity - 4096 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::ioctl(run.reader, FIONREAD, &queued);
    }
    ASSERT_GE(queued, capacity - 4096) << "the pipe never filled";  // within a page: the pipe takes whole ones
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(run.pid, SIGTERM), 0);
    EXPECT_EQ(exitOf(run.pid), 128 + SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(1));
    ::close(run.reader);
    // A read-back is 40 writes and 8 samples; the trace holds whole ones only.
    const auto accesses = fileLines(trace);
    EXPECT_EQ(accesses.size() % 48, 0U) << accesses.size();
    const std::string err = fileText(run.errFile);
    EXPECT_EQ(err.rfind("pxctl: interrupted by SIGTERM after action ", 0), 0U) << err;
    EXPECT_NE(err.find(" of 5000\n"), std::string::npos) << err;
}

// A reader that went away: status 1 as for any lost output, and nothing said
// to nobody (this ended pxctl by SIGPIPE, 141).
TEST(BlockedOutput, AReaderThatWentAwayIsStatus1WithoutAWord) {
    const Piped run = spawnOnPipe({"--port", "sim", "get", "get"}, true, "gone");
    EXPECT_EQ(exitOf(run.pid), 1);
    EXPECT_EQ(fileText(run.errFile), "");
}

// A --json run that a signal stops says so in its last record.
TEST(Interrupted, AJsonRunEndsWithARecordOfTheInterruption) {
    const std::string library = testing::TempDir() + "px77xx_slow_json.so";
    std::filesystem::copy_file(SLOW_PORT_LIBRARY, library, std::filesystem::copy_options::overwrite_existing);
    const std::string portLog = testing::TempDir() + "px77xx_port_json.log";
    std::remove(portLog.c_str());
    std::vector<std::string> arguments{"--json", "--port", "lib:path=" + library};
    for (int code = 1; code <= 40; ++code) arguments.insert(arguments.end(), {"set", "1", std::to_string(code)});
    const Spawned run = spawnProgram(PXCTL, arguments, {"PX77XX_PORT_LOG=" + portLog}, "json");
    waitForLines(portLog, 200);
    ASSERT_EQ(kill(run.pid, SIGINT), 0);
    EXPECT_EQ(waitExit(run), 128 + SIGINT);
    const auto lines = fileLines(run.outFile);
    ASSERT_FALSE(lines.empty());
    const std::size_t ran = fileLines(portLog).size() / 59;
    EXPECT_EQ(lines.size(), ran + 1);
    EXPECT_EQ(lines.back(), "{\"ok\":false,\"interrupted\":\"SIGINT\",\"after\":" + std::to_string(ran) + ",\"of\":40}");
}

// A port library is foreign code: whatever way it fails at its twelfth write,
// the report says what reached the port (eleven writes of 59), in the text and
// the JSON, and the trace keeps the frame cut short. Before, an exception was
// "internal error" without any of that, an int aborted pxctl, and exit() lost
// the decoded trace's partial transaction.
struct Fault {
    std::string name;
    int status;
    std::string error;  // after "lib LIBRARY: "; empty where the library ends the process
};

class ForeignLibrary : public testing::TestWithParam<Fault> {};

TEST_P(ForeignLibrary, FailingAtItsTwelfthWriteIsReportedAsCutShortAfter11Of59) {
    const Fault& row = GetParam();
    const std::string library = testing::TempDir() + "px77xx_fault_" + row.name + ".so";
    std::filesystem::copy_file(SLOW_PORT_LIBRARY, library, std::filesystem::copy_options::overwrite_existing);
    const std::string base = testing::TempDir() + "px77xx_fault_" + row.name;
    const std::vector<std::string> env{"PX77XX_PORT_FAULT=" + row.name + ":12", "PX77XX_PORT_WAIT_MS=0",
                                       "PX77XX_PORT_LOG=" + base + ".port"};
    std::remove((base + ".port").c_str());
    Spawned run = spawnProgram(PXCTL, {"--json", "--port", "lib:path=" + library, "--trace", base + ".log", "set", "1", "5"},
                               env, row.name + "_log");
    EXPECT_EQ(waitExit(run), row.status);
    const auto reached = fileLines(base + ".port");
    EXPECT_EQ(reached.size(), 11U);
    EXPECT_EQ(fileLines(base + ".log"), reached);
    if (!row.error.empty()) {
        const std::string error = "lib " + library + ": " + row.error;
        EXPECT_EQ(fileText(run.errFile),
                  "pxctl: set 1 5: cut short after 11 of 59 writes: " + error + " (action 1; 0 ran before it)\n");
        EXPECT_EQ(fileText(run.outFile), "{\"index\":1,\"action\":\"set 1 5\",\"ok\":false,\"cause\":\"port failed\","
                                         "\"delivery\":\"cut short\",\"writes\":11,\"of\":59,\"error\":\"set 1 5: cut "
                                         "short after 11 of 59 writes: " + error + "\",\"adapter\":\"port library\","
                                         "\"transfers\":\"OutportW/InportW\"}\n");
    }
    std::remove((base + ".port").c_str());
    run = spawnProgram(PXCTL, {"--port", "lib:path=" + library, "--trace", base + ".txt", "set", "1", "5"}, env,
                       row.name + "_txt");
    EXPECT_EQ(waitExit(run), row.status);
    const auto decoded = fileLines(base + ".txt");
    ASSERT_EQ(decoded.size(), 2U);
    EXPECT_EQ(decoded[0], "# lib " + library + ": port library, OutportW/InportW transfers");
    EXPECT_EQ(decoded[1].substr(12), "code1=5    start, cut short before the address");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ForeignLibrary,
    testing::Values(Fault{"throw", 1, "the port library threw in OutportW: cable unplugged"},
                    Fault{"int", 1, "the port library threw in OutportW something that is not a std::exception"},
                    Fault{"exit", 3, ""}),
    [](const testing::TestParamInfo<Fault>& row) { return row.param.name; });

}  // namespace

namespace {

using namespace testing_support;

// lib:path=NAME is the file NAME in the current directory, loaded and locked
// as one file, even where the system has a library of that name (before, the
// system's libm.so.6 was loaded and a lock named after ./libm.so.6 taken).
TEST(LibraryPath, ANameWithoutASlashIsTheFileInTheCurrentDirectoryLoadedAndLocked) {
    const std::string dir = testing::TempDir() + "px77xx_libdir";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/elsewhere");
    std::filesystem::copy_file(SLOW_PORT_LIBRARY, dir + "/libm.so.6");
    const std::string portLog = dir + "/port.log";
    const std::string lock = ports::lockDirectory() + "/" + ports::lockKeyForFile("lib", dir + "/libm.so.6") + ".lock";
    std::filesystem::remove(lock);

    auto run = runProgram("--port lib:path=libm.so.6 set 1 5", PXCTL, "",
                          "cd " + dir + " && PX77XX_PORT_WAIT_MS=0 PX77XX_PORT_LOG=" + portLog);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fileLines(portLog).size(), 59U);  // ours, not the system's libm, which has no OutportW
    EXPECT_TRUE(std::filesystem::exists(lock)) << lock;

    run = runProgram("--port lib:path=libm.so.6 set 1 5", PXCTL, "", "cd " + dir + "/elsewhere &&");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "pxctl: set 1 5: not sent: lib " + dir + "/elsewhere/libm.so.6: cannot load: " + dir +
                           "/elsewhere/libm.so.6: cannot open shared object file: No such file or directory (action 1; 0 "
                           "ran before it)\n");
}

}  // namespace
