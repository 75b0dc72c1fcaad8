// One program per port where the kernel claims nothing: the lock taken at the
// first access, a second holder refused before anything reaches the port, and
// a lock directory that cannot be used said once.
#include "ports/lock_port.h"
#include "recording_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
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

std::string lockDirectory() {
    const std::string dir = testing::TempDir() + "px77xx_locks_" +
                            testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

TEST(Lock, ASecondHolderIsRefusedBeforeAnythingReachesThePort) {
    const std::string dir = lockDirectory();
    RecordingPort first, second;
    auto holder = std::make_unique<ports::LockPort>(std::make_unique<Forward>(first), "io 0x378", "io-0x378", dir);
    EXPECT_FALSE(std::filesystem::exists(dir + "/px77xx-io-0x378.lock"));  // nothing before the first access
    holder->OutportW(0x378, 0xF3);
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

TEST(Lock, ADirectoryThatCannotBeUsedIsSaidOnceAndThePortStillWorks) {
    RecordingPort device;
    ports::LockPort port(std::make_unique<Forward>(device), "lib /opt/port.so", "lib-port.so-0", "/nonexistent-lock-dir");
    port.OutportW(0x378, 0x13);
    EXPECT_EQ(port.InportW(0x379), 0);
    EXPECT_EQ(port.takeNotice(), "cannot lock lib /opt/port.so for this program alone (/nonexistent-lock-dir/"
                                 "px77xx-lib-port.so-0.lock: No such file or directory); another program could use "
                                 "the port at the same time");
    EXPECT_EQ(port.takeNotice(), std::nullopt);
    port.OutportW(0x378, 0x12);
    EXPECT_EQ(device.log.size(), 3U);
}

TEST(Lock, TwoPathsToOneLibraryShareALock) {
    const std::string dir = lockDirectory();
    const std::string library = dir + "/libport.so";
    { std::ofstream(library) << "x"; }
    std::filesystem::create_symlink(library, dir + "/link.so");
    EXPECT_EQ(ports::lockKeyForFile("lib", library), ports::lockKeyForFile("lib", dir + "/link.so"));
    EXPECT_EQ(ports::lockKeyForFile("lib", library).rfind("lib-libport.so-", 0), 0U);
    EXPECT_NE(ports::lockKeyForFile("lib", library), ports::lockKeyForFile("lib", dir + "/other/libport.so"));
}

}  // namespace
