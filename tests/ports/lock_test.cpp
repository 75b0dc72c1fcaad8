// One program per port where the kernel claims nothing: the lock taken at the
// first access, a second holder refused before anything reaches the port, a
// lock directory that cannot be made said once, and whatever a hostile user
// can put at the lock's path refused without touching it.
#include "ports/lib_port.h"
#include "ports/lock_port.h"
#include "recording_port.h"
#include "table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using testing_support::RecordingPort;

// Forwards to a recording port the test keeps.
class Forward final : public bus::Port {
public:
    explicit Forward(bus::Port& inner) : inner_(inner) {}
    void OutportW(std::uint16_t port, std::uint16_t value) override { inner_.OutportW(port, value); }
    std::uint16_t InportW(std::uint16_t port) override { return inner_.InportW(port); }

private:
    bus::Port& inner_;
};

std::string testDirectory() {
    const std::string dir = testing::TempDir() + "px77xx_locks_" +
                            testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ::chmod(dir.c_str(), 0700);
    return dir;
}

std::string text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// What a file is to anyone who might be harmed through it.
struct Fingerprint {
    mode_t mode;
    off_t size;
    std::string content;
    friend bool operator==(const Fingerprint&, const Fingerprint&) = default;
};
Fingerprint fingerprint(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return {st.st_mode, st.st_size, text(path)};
}

char pidLine[16];
const char* ownPid() {
    std::snprintf(pidLine, sizeof pidLine, "%10d\n", static_cast<int>(::getpid()));
    return pidLine;
}

TEST(Lock, ASecondHolderIsRefusedBeforeAnythingReachesThePort) {
    const std::string dir = testDirectory() + "/locks";
    RecordingPort first, second;
    auto holder = std::make_unique<ports::LockPort>(std::make_unique<Forward>(first), "io 0x378", "io-0x378", dir);
    EXPECT_FALSE(std::filesystem::exists(dir));  // nothing before the first access
    holder->OutportW(0x378, 0xF3);
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700U);
    ASSERT_EQ(::stat((dir + "/io-0x378.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600U);
    EXPECT_EQ(text(dir + "/io-0x378.lock"), ownPid());
    ports::LockPort other(std::make_unique<Forward>(second), "io 0x378", "io-0x378", dir);
    try {
        other.OutportW(0x378, 0xF3);
        FAIL() << "a second holder took the port";
    } catch (const bus::PortError& e) {
        EXPECT_EQ(std::string(e.what()), "io 0x378 is in use by another program (pid " + std::to_string(getpid()) + ")");
    }
    EXPECT_TRUE(second.log.empty());
    EXPECT_EQ(first.log.size(), 1U);
    holder.reset();  // the first program ends
    other.OutportW(0x378, 0xF2);
    EXPECT_EQ(second.log.size(), 1U);
    EXPECT_EQ(other.takeNotice(), std::nullopt);
}

TEST(Lock, ADirectoryThatCannotBeMadeIsSaidOnceAndThePortStillWorks) {
    RecordingPort device;
    ports::LockPort port(std::make_unique<Forward>(device), "lib /opt/port.so", "lib-port.so-0", "/nonexistent/px77xx");
    port.OutportW(0x378, 0x13);
    EXPECT_EQ(port.InportW(0x379), 0);
    EXPECT_EQ(port.takeNotice(), "cannot lock lib /opt/port.so for this program alone (/nonexistent/px77xx: No such "
                                 "file or directory); another program could use the port at the same time");
    EXPECT_EQ(port.takeNotice(), std::nullopt);
    port.OutportW(0x378, 0x12);
    EXPECT_EQ(device.log.size(), 3U);
}

// What can stand at the lock's path, put there by the test as a hostile user
// would; victim is a file elsewhere that must come through untouched. Before,
// a FIFO hung the program in open() and a hard link was made mode 0666 and
// truncated.
struct Planted {
    std::string name;
    bool needsRoot;  // the case makes a file of another user
    std::function<void(const std::string& lock, const std::string& victim)> plant;
    std::string outcome;  // after "lib /x/libport.so" and "LOCK" for the lock's path; "" for locked
};

class LockPath : public testing::TestWithParam<Planted> {};

TEST_P(LockPath, IsUsedOnlyIfItIsAFileOfOurOwnWithOneLink) {
    const Planted& row = GetParam();
    if (row.needsRoot && ::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
    const std::string dir = testDirectory();
    const std::string locks = dir + "/locks";
    const std::string lock = locks + "/lib-port.lock";
    const std::string victim = dir + "/victim";
    { std::ofstream(victim) << "secret\n"; }
    ::chmod(victim.c_str(), 0600);
    ASSERT_EQ(::mkdir(locks.c_str(), 0700), 0);
    row.plant(lock, victim);
    const Fingerprint before = fingerprint(victim);

    RecordingPort device;
    ports::LockPort port(std::make_unique<Forward>(device), "lib /x/libport.so", "lib-port", locks);
    const auto started = std::chrono::steady_clock::now();
    std::string outcome;
    try {
        port.OutportW(0x378, 0xF3);
    } catch (const bus::PortError& e) {
        outcome = e.what();
        if (const auto at = outcome.find(lock); at != std::string::npos) outcome.replace(at, lock.size(), "LOCK");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << "waited at the lock";
    EXPECT_EQ(outcome, row.outcome);
    EXPECT_EQ(device.log.size(), row.outcome.empty() ? 1U : 0U);
    EXPECT_EQ(fingerprint(victim), before);
    EXPECT_EQ(port.takeNotice(), std::nullopt);
}

const std::string kRefused = ", not a lock file of this user's (remove it, or ask who made it)";

INSTANTIATE_TEST_SUITE_P(
    Planted, LockPath,
    testing::Values(
        Planted{"nothing", false, [](const std::string&, const std::string&) {}, ""},
        Planted{"a_file_of_ours", false, [](const std::string& lock, const std::string&) { std::ofstream(lock) << "old"; },
                ""},
        Planted{"a_symbolic_link", false,
                [](const std::string& lock, const std::string& victim) {
                    std::filesystem::create_symlink(victim, lock);
                },
                "lib /x/libport.so: lock LOCK is a symbolic link" + kRefused},
        Planted{"a_hard_link", false,
                [](const std::string& lock, const std::string& victim) {
                    std::filesystem::create_hard_link(victim, lock);
                },
                "lib /x/libport.so: lock LOCK is a file with 2 links" + kRefused},
        Planted{"a_fifo", false, [](const std::string& lock, const std::string&) { ::mkfifo(lock.c_str(), 0666); },
                "lib /x/libport.so: lock LOCK is a FIFO" + kRefused},
        Planted{"a_directory", false,
                [](const std::string& lock, const std::string&) { std::filesystem::create_directory(lock); },
                "lib /x/libport.so: lock LOCK is a directory" + kRefused},
        Planted{"a_socket", false,
                [](const std::string& lock, const std::string&) {
                    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
                    sockaddr_un address{};
                    address.sun_family = AF_UNIX;
                    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", lock.c_str());
                    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
                    ::close(fd);
                },
                "lib /x/libport.so: lock LOCK is a socket" + kRefused},
        Planted{"a_file_of_another_user", true,
                [](const std::string& lock, const std::string&) {
                    std::ofstream(lock) << "         1\n";
                    [[maybe_unused]] const int changed = ::chown(lock.c_str(), 65534, 65534);
                },
                "lib /x/libport.so: lock LOCK is a file owned by uid 65534" + kRefused}),
    testing_support::RowName());

// The lock directory itself, planted before the program makes it.
TEST(LockDirectory, IsUsedOnlyIfItIsADirectoryOfOurOwnThatNobodyElseWrites) {
    const std::string dir = testDirectory();
    const std::string victim = dir + "/victim";
    std::filesystem::create_directory(victim);
    const auto refusal = [](const std::string& locks) {
        RecordingPort device;
        ports::LockPort port(std::make_unique<Forward>(device), "io 0x378", "io-0x378", locks);
        try {
            port.OutportW(0x378, 0xF3);
        } catch (const bus::PortError& e) {
            EXPECT_TRUE(device.log.empty());
            return std::string(e.what());
        }
        return std::string("locked");
    };
    std::filesystem::create_directory_symlink(victim, dir + "/link");
    EXPECT_EQ(refusal(dir + "/link"), "io 0x378: lock " + dir + "/link is a symbolic link" + kRefused);
    EXPECT_FALSE(std::filesystem::exists(victim + "/io-0x378.lock"));
    ::mkfifo((dir + "/fifo").c_str(), 0666);
    EXPECT_EQ(refusal(dir + "/fifo"), "io 0x378: lock " + dir + "/fifo is a FIFO" + kRefused);
    std::filesystem::create_directory(dir + "/open");
    ::chmod((dir + "/open").c_str(), 01777);
    EXPECT_EQ(refusal(dir + "/open"), "io 0x378: lock " + dir + "/open is a directory others can write to" + kRefused);
    if (::geteuid() == 0) {
        std::filesystem::create_directory(dir + "/theirs");
        ASSERT_EQ(::chown((dir + "/theirs").c_str(), 65534, 65534), 0);
        EXPECT_EQ(refusal(dir + "/theirs"), "io 0x378: lock " + dir + "/theirs is a directory owned by uid 65534" + kRefused);
    }
}

// The pid in a held lock is shown only where it is one: a live process, written
// as this program writes it.
TEST(Lock, APidFromTheFileIsCheckedBeforeItIsShown) {
    const std::string locks = testDirectory() + "/locks";
    ASSERT_EQ(::mkdir(locks.c_str(), 0700), 0);
    const std::string lock = locks + "/io-0x378.lock";
    for (const auto& [content, shown] : std::vector<std::pair<std::string, std::string>>{
             {"9223372036854775807\n", ""},
             {"   4194305\n", ""},
             {"      -1 1\n", ""},
             {std::string(ownPid()), " (pid " + std::to_string(getpid()) + ")"}}) {
        { std::ofstream(lock, std::ios::trunc) << content; }
        const int held = ::open(lock.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        RecordingPort device;
        ports::LockPort port(std::make_unique<Forward>(device), "io 0x378", "io-0x378", locks);
        try {
            port.OutportW(0x378, 0xF3);
            ADD_FAILURE() << "locked past a holder";
        } catch (const bus::PortError& e) {
            EXPECT_EQ(std::string(e.what()), "io 0x378 is in use by another program" + shown) << content;
        }
        ::close(held);
    }
}

// The FIFO as it was met: in a sticky world-writable directory such as
// /run/lock, with fs.protected_fifos=1 (Debian's default), planted by another
// user where the lock directory goes. Needs root to plant as another user and
// to set the sysctl.
TEST(LockDirectory, AFifoPlantedInAStickyDirectoryUnderProtectedFifosNeitherHangsNorIsOpened) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    const char* sysctl = "/proc/sys/fs/protected_fifos";
    const std::string previous = text(sysctl);
    {
        std::ofstream set(sysctl);
        set << "1\n";
        if (!set.flush()) GTEST_SKIP() << "cannot set " << sysctl;
    }
    const std::string dir = testDirectory();
    ::chmod(dir.c_str(), 01777);
    const std::string locks = dir + "/px77xx-0";
    ASSERT_EQ(::mkfifo(locks.c_str(), 0666), 0);
    ASSERT_EQ(::chown(locks.c_str(), 65534, 65534), 0);
    RecordingPort device;
    ports::LockPort port(std::make_unique<Forward>(device), "io 0x378", "io-0x378", locks);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(port.OutportW(0x378, 0xF3), bus::PortError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    std::ofstream(sysctl) << previous;
}

// The file loaded is the file locked: a name without a slash is the one in the
// current directory, never a system library of the same name.
TEST(LibraryPath, ResolvesOnceToTheFileThatIsLoadedAndLocked) {
    const std::string dir = testDirectory();
    const std::string library = dir + "/libm.so.6";
    { std::ofstream(library) << "x"; }
    std::filesystem::create_symlink(library, dir + "/link.so");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    EXPECT_EQ(ports::resolveLibrary("libm.so.6"), library);
    EXPECT_EQ(ports::resolveLibrary("link.so"), library);
    EXPECT_EQ(ports::resolveLibrary("absent.so"), dir + "/absent.so");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(ports::resolveLibrary(dir + "/link.so"), library);
    EXPECT_EQ(ports::lockKeyForFile("lib", library).rfind("lib-libm.so.6-", 0), 0U);
    EXPECT_NE(ports::lockKeyForFile("lib", library), ports::lockKeyForFile("lib", dir + "/other/libm.so.6"));
}

}  // namespace
