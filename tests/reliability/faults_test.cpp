// Injected port failures at every access of each kind of transaction, and two
// programs contending for one ppdev device.
#include "commands/descriptor.h"
#include "commands/program.h"
#include "frame_decoder.h"
#include "ports/ppdev_port.h"
#include "recording_port.h"
#include "tap_port.h"
#include "sim/board.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <set>
#include <sys/ioctl.h>

namespace {

using namespace testing_support;

struct Kind {
    std::string name;
    bool programA;
    std::function<void(commands::Program&)> setup;
    std::function<void(commands::Program&)> action;
    std::size_t accesses;
};

class EveryAccess : public testing::TestWithParam<Kind> {};

TEST_P(EveryAccess, FailsThereAndTheNextActionWritesACompleteFrame) {
    const Kind& kind = GetParam();
    for (std::size_t n = 1; n <= kind.accesses; ++n) {
        SCOPED_TRACE(kind.name + ", failing access " + std::to_string(n));
        sim::Board board;
        TapPort port{board};
        auto program = commands::programs()[kind.programA ? 0 : 1]->make(port);
        kind.setup(*program);
        port.log.clear();
        port.failAfter(n);
        EXPECT_THROW(kind.action(*program), bus::PortError);
        ASSERT_EQ(port.log.size(), n - 1);  // nothing after the failing access

        // The port is healthy again: Run writes the panel's frame from an idle bus.
        port.log.clear();
        program->cmdRun_Click();
        const auto& log = port.log;
        const auto frame = kind.programA ? decodeFrameA(log) : decodeFrameB(log);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->word, program->frameWord());
        EXPECT_EQ(log.size(), kind.programA ? 104U : 59U);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transactions, EveryAccess,
    testing::Values(
        Kind{"A_frame_and_read_back", true, [](auto& p) { p.controls().vsbInputCode1.setValue(77); },
             [](auto& p) { p.cmdRun_Click(); }, 104},
        Kind{"A_read_back_alone", true, [](auto& p) { p.controls().vsbInputCode2.setValue(3); },
             [](auto& p) { p.cmdRead_Click(); }, 48},
        Kind{"A_preset_double_write", true, [](auto& p) { p.controls().vsbInputCode1.setValue(5); },
             [](auto& p) { p.cmdFS_Click(); }, 208},
        Kind{"B_frame", false, [](auto& p) { p.controls().vsbInputCode1.setValue(77); },
             [](auto& p) { p.cmdRun_Click(); }, 59},
        Kind{"B_read", false, [](auto& p) { p.controls().vsbInputCode2.setValue(200); },
             [](auto& p) { p.cmdRead_Click(); }, 107},
        Kind{"B_preset_double_write", false, [](auto& p) { p.controls().vsbInputCode1.setValue(5); },
             [](auto& p) { p.cmdFS_Click(); }, 118},
        Kind{"B_shutdown", false, [](auto&) {}, [](auto& p) { commands::kDescriptorB.find("cmdSHDN")->run(p); },
             1}),
    [](const testing::TestParamInfo<Kind>& row) { return row.param.name; });

// --- two programs, one parallel port ---

// The kernel's side of ppdev for one device: exclusive claims per open file.
class FakeKernel {
public:
    int open() { return nextFd_++; }
    int ioctl(int fd, unsigned long request, void* argument) {
        if (request == PPEXCL) {
            exclusive_.insert(fd);
            return 0;
        }
        if (request == PPCLAIM) {
            // A 6.1 kernel refuses a claim on a port another opener holds with ENXIO.
            if (owner_ >= 0 && owner_ != fd) return -ENXIO;
            owner_ = fd;
            return 0;
        }
        if (request == PPRELEASE) {
            if (owner_ == fd) owner_ = -1;
            return 0;
        }
        if (owner_ != fd) {
            ++unclaimedAccesses;  // the backend must never do this
            return -EINVAL;
        }
        if (request == PPWDATA) writes[fd].push_back(*static_cast<unsigned char*>(argument));
        if (request == PPRSTATUS) *static_cast<unsigned char*>(argument) = 0x78;
        return 0;
    }
    std::map<int, std::vector<int>> writes;
    int unclaimedAccesses = 0;

private:
    int nextFd_ = 3;
    int owner_ = -1;
    std::set<int> exclusive_;
};

class KernelSystem final : public ports::DeviceSystem {
public:
    explicit KernelSystem(FakeKernel& kernel) : kernel_(kernel) {}
    int open(const std::string&) override { return kernel_.open(); }
    int ioctl(int fd, unsigned long request, void* argument) override { return kernel_.ioctl(fd, request, argument); }
    void close(int) override {}

private:
    FakeKernel& kernel_;
};

TEST(ExclusiveAccess, TheSecondProgramIsToldTheDeviceIsBusyAndTheFirstKeepsWorking) {
    FakeKernel kernel;
    ports::PpdevPort first("/dev/parport0", std::make_unique<KernelSystem>(kernel));
    ports::PpdevPort second("/dev/parport0", std::make_unique<KernelSystem>(kernel));
    commands::ProgramB b(first);
    commands::ProgramA a(second);
    b.controls().vsbInputCode1.setValue(10);
    try {
        a.controls().vsbInputCode1.setValue(10);
        FAIL() << "the second program claimed a busy port";
    } catch (const bus::PortError& e) {
        EXPECT_STREQ(e.what(),
                     "ppdev /dev/parport0: PPCLAIM: No such device or address (another program or the lp driver "
                     "holds the port)");
    }
    b.cmdRead_Click();
    EXPECT_EQ(kernel.writes[3].size(), 59U + 59U + 40U);
    EXPECT_EQ(kernel.writes.count(4), 0U);
    EXPECT_EQ(kernel.unclaimedAccesses, 0);
    EXPECT_FALSE(second.claimed());
}

}  // namespace
