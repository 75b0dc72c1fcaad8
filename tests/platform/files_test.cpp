// The platform's small files and locks, on every system: what is read, what is
// refused, what a replacement leaves behind, and who waits for a lock.
#include "platform/files.h"
#include "platform/lock.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

fs::path fresh(const std::string& name) {
    const fs::path dir = fs::path(testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Exactly limit bytes are read; one more is refused with the limit named.
TEST(PlatformFiles, ReadsUpToItsLimitAndNoMore) {
    const fs::path dir = fresh("platform_limit");
    const std::string file = (dir / "f").string();
    EXPECT_EQ(platform::readSmallFile(file, 8), std::nullopt);  // nothing there
    for (const auto& [size, refused] : {std::pair{0, false}, {8, false}, {9, true}}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << std::string(static_cast<std::size_t>(size), 'x');
        if (refused) {
            try {
                platform::readSmallFile(file, 8);
                ADD_FAILURE() << size << " bytes were read";
            } catch (const platform::FileError& e) {
                EXPECT_STREQ(e.what(), "larger than 8 bytes");
            }
        } else {
            EXPECT_EQ(platform::readSmallFile(file, 8), std::string(static_cast<std::size_t>(size), 'x'));
        }
    }
}

// A replacement is whole, and leaves nothing of its own behind.
TEST(PlatformFiles, AReplacementLeavesOnlyTheFile) {
    const fs::path dir = fresh("platform_replace");
    const std::string file = (dir / "f").string();
    platform::checkReplaceable(file);
    EXPECT_TRUE(fs::is_empty(dir));
    platform::replaceFile(file, "one\n");
    platform::replaceFile(file, "two\n");
    EXPECT_EQ(readAll(file), "two\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    EXPECT_THROW(platform::replaceFile((dir / "absent" / "f").string(), "x"), platform::FileError);
}

// A second holder of a file lock waits until the first lets go.
TEST(PlatformFiles, ASecondFileLockWaitsForTheFirst) {
    const fs::path dir = fresh("platform_file_lock");
    const std::string file = (dir / "f").string();
    std::atomic<bool> second{false};
    std::thread waiter;
    {
        const platform::FileLock first(file);
        waiter = std::thread([&] {
            const platform::FileLock lock(file);
            second = true;
        });
        // The waiter cannot have the lock while this scope holds it.
        EXPECT_FALSE(second.load());
    }
    waiter.join();
    EXPECT_TRUE(second.load());
}

// The program lock is tried once: a second is told who holds it, and gets it
// once the first is gone.
TEST(PlatformProgramLock, ASecondIsToldItIsInUse) {
    const fs::path dir = fresh("platform_program_lock");
#ifdef _WIN32
    const std::string directory = platform::lockDirectory() + "-test";
#else
    const std::string directory = (dir / "locks").string();
#endif
    auto first = std::make_unique<platform::ProgramLock>();
    EXPECT_EQ(first->acquire(directory, "port.lock").result, platform::LockAttempt::Result::Held);
    platform::ProgramLock second;
    const auto busy = second.acquire(directory, "port.lock");
    EXPECT_EQ(busy.result, platform::LockAttempt::Result::InUse);
    EXPECT_EQ(busy.holder, platform::processId());
    first.reset();
    EXPECT_EQ(second.acquire(directory, "port.lock").result, platform::LockAttempt::Result::Held);
}

}  // namespace
