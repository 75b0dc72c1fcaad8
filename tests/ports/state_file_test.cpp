// The simulated board's state file (sim:state=FILE) where others may write its
// directory, runs share it, or something else stands at its path. Built for
// Windows too, where replacing a file is the system's own business.
#include "commands/descriptor.h"
#include "ports/factory.h"
#include "refusal.h"
#include "script/actions.h"
#include "script/executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string stateText(int wiper1, int wiper2, int channel, bool shutdown) {
    return "px77xx-sim-state 1\nwiper1 " + std::to_string(wiper1) + "\nwiper2 " + std::to_string(wiper2) +
           "\nchannel " + std::to_string(channel) + "\nshutdown " + (shutdown ? "1" : "0") + "\n";
}

// A directory of the test's own, empty.
fs::path freshDirectory(const std::string& name) {
    const fs::path dir = fs::path(testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A program on a freshly opened port, running words until one fails.
struct Session {
    explicit Session(const std::string& spec)
        : opened(ports::openPort(spec)), program(commands::kDescriptorB.make(*opened.port)), executor(*program) {}
    std::string operator()(const std::string& words) {
        for (const auto& action : script::parseActions(script::splitWords(words), commands::kDescriptorB)) {
            if (const auto result = executor.execute(action); !result.ok) return result.error;
        }
        return "ok";
    }
    ports::Opened opened;
    std::unique_ptr<commands::Program> program;
    script::Executor executor;
};

TEST(SimStateFile, IsReplacedOnEveryChangeWithNothingLeftBesideItButItsLock) {
    const fs::path dir = freshDirectory("state_replaced");
    const std::string file = (dir / "board").string();
    Session run("sim:state=" + file);
    // The second replacement is the one Windows refused while the file existed.
    EXPECT_EQ(run("set 1 200 set 2 7 set 1 9"), "ok");
    EXPECT_EQ(fileText(file), stateText(9, 7, 1, false));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"board", "board.lock"}));
}

// Guards the root clobber: the new state went to FILE.new, opened through
// whatever link another user had planted there.
TEST(SimStateFile, APlantedLinkAtTheOldTemporaryNameIsNeverFollowed) {
    const fs::path dir = freshDirectory("state_planted");
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "precious\n";
    std::error_code error;
    fs::create_symlink(victim, dir / "board.new", error);
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
    EXPECT_EQ(Session("sim:state=" + (dir / "board").string())("set 1 42"), "ok");
    EXPECT_EQ(fileText(victim), "precious\n");
    EXPECT_EQ(fileText(dir / "board"), stateText(42, 128, 1, false));
}

// Two runs on one file at the same time, one on each channel: each wiper ends
// at the last value its run wrote, and no run fails.
TEST(SimStateFile, RunsAtTheSameTimeLoseNoneOfEachOthersChanges) {
    const fs::path dir = freshDirectory("state_shared");
    const std::string spec = "sim:state=" + (dir / "board").string();
    std::string failures[2];
    std::thread runs[2];
    for (int channel = 1; channel <= 2; ++channel) {
        runs[channel - 1] = std::thread([&, channel] {
            for (int code = 0; code < 200; ++code) {
                // A fresh run each time, as a shell loop of pxctl makes them.
                const std::string said = Session(spec)("set " + std::to_string(channel) + " " + std::to_string(code));
                if (said != "ok" && failures[channel - 1].empty()) failures[channel - 1] = said;
            }
        });
    }
    for (auto& run : runs) run.join();
    EXPECT_EQ(failures[0], "");
    EXPECT_EQ(failures[1], "");
    const std::string kept = fileText(dir / "board");
    EXPECT_TRUE(kept == stateText(199, 199, 1, false) || kept == stateText(199, 199, 2, false)) << kept;
}

struct Planted {
    std::string name;
    std::function<bool(const fs::path&)> plant;  // false: cannot be made here
    std::string said;                            // after "sim: state=PATH: "
};

void PrintTo(const Planted& p, std::ostream* os) { *os << p.name; }

class SimStateRefuses : public testing::TestWithParam<Planted> {};

// What stands at the path is named in one line, never waited on or read whole.
TEST_P(SimStateRefuses, WhatIsNotAStateFile) {
    const fs::path dir = freshDirectory("state_planted_" + GetParam().name);
    const fs::path path = dir / "board";
    if (!GetParam().plant(path)) GTEST_SKIP() << "cannot be made on this system";
    std::string said = GetParam().said;
    if (const auto at = said.find("PATH"); at != std::string::npos) said.replace(at, 4, path.string());
    EXPECT_EQ(testing_support::refusal([&] { ports::openPort("sim:state=" + path.string()); }),
              "sim: state=" + path.string() + ": " + said);
}

const std::vector<Planted> kPlanted = {
    Planted{"directory", [](const fs::path& p) { return fs::create_directory(p); }, "cannot use it: a directory"},
    Planted{"large_file",
            [](const fs::path& p) {
                std::ofstream(p) << std::string(1 << 20, 'x');
                return true;
            },
            "cannot use it: larger than 4096 bytes"},
    Planted{"directory_at_the_lock", [](const fs::path& p) { return fs::create_directory(p.string() + ".lock"); },
            "cannot keep the board there: lock PATH.lock: a directory"},
#ifndef _WIN32
    Planted{"fifo", [](const fs::path& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, "cannot use it: a FIFO"},
    Planted{"device_link",
            [](const fs::path& p) {
                fs::create_symlink("/dev/zero", p);
                return true;
            },
            "cannot use it: a symbolic link"},
    Planted{"fifo_at_the_lock", [](const fs::path& p) { return ::mkfifo((p.string() + ".lock").c_str(), 0600) == 0; },
            "cannot keep the board there: lock PATH.lock: a FIFO"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Planted, SimStateRefuses, testing::ValuesIn(kPlanted),
                         [](const testing::TestParamInfo<Planted>& row) { return row.param.name; });

#ifndef _WIN32
// The new file is made as any new file is (the umask decides), and a file
// that is replaced keeps the permissions its owner gave it.
TEST(SimStateFile, KeepsThePermissionsOfTheFileItReplaces) {
    const fs::path dir = freshDirectory("state_permissions");
    const std::string file = (dir / "board").string();
    const mode_t mask = ::umask(022);
    EXPECT_EQ(Session("sim:state=" + file)("set 1 1"), "ok");
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644U);
    ::chmod(file.c_str(), 0640);
    EXPECT_EQ(Session("sim:state=" + file)("set 1 2"), "ok");
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640U);
    ::umask(mask);
}

TEST(SimStateFile, ADeviceIsRefusedByName) {
    EXPECT_EQ(testing_support::refusal([] { ports::openPort("sim:state=/dev/zero"); }),
              "sim: state=/dev/zero: cannot use it: a device");
}

// A directory the state cannot be saved in is said when the port opens, not
// at the first change after some frames went out. /proc is not writable even
// by root, who runs CI.
TEST(SimStateFile, ADirectoryItCannotBeSavedInIsRefusedAtOpen) {
    const std::string said = testing_support::refusal([] { ports::openPort("sim:state=/proc/self/board"); });
    EXPECT_EQ(said.rfind("sim: state=/proc/self/board: cannot keep the board there: ", 0), 0U) << said;
}
#endif

}  // namespace
