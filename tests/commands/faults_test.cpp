// A port that fails part-way through a transaction: the failure leaves the
// handler, nothing after it runs, and the next action starts a clean frame.
#include "bus/port.h"
#include "commands/program.h"
#include "frame_decoder.h"
#include "recording_port.h"

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

TEST(PortFailure, EveryAccessOfAProgramACodeChange) {
    constexpr std::size_t kAccesses = 56 + 48;
    for (std::size_t n = 1; n <= kAccesses; ++n) {
        SCOPED_TRACE("failing access " + std::to_string(n));
        RecordingPort port;
        port.failAt = n;
        commands::ProgramA a(port);
        EXPECT_THROW(a.controls().vsbInputCode1.setValue(128), bus::PortError);
        EXPECT_EQ(port.log.size(), n - 1);
        // The read-back's display steps come after its last access: none ran.
        EXPECT_FALSE(a.controls().txtSDA_Data.written());
        EXPECT_EQ(a.controls().vsbBit[44].Value(), 0);

        // The port heals; the next action writes a complete, correct frame.
        port.log.clear();
        a.cmdRun_Click();
        EXPECT_EQ(framesA(port.log), std::vector<std::uint32_t>{0x1600080});
        EXPECT_EQ(port.log.size(), kAccesses);
        EXPECT_EQ(a.controls().txtSDA_Data.Text(), "0");
    }
}

TEST(PortFailure, ProgramBReadStopsWhereThePortFailed) {
    for (std::size_t n : {1U, 59U, 60U, 107U}) {
        SCOPED_TRACE("failing access " + std::to_string(n));
        RecordingPort port;
        port.failAt = n;
        commands::ProgramB b(port);
        EXPECT_THROW(b.cmdRead_Click(), bus::PortError);
        EXPECT_EQ(port.log.size(), n - 1);
        EXPECT_FALSE(b.controls().txtSDA_Data.written());
        port.log.clear();
        b.cmdRun_Click();
        EXPECT_EQ(framesB(port.log), std::vector<std::uint32_t>{0});
    }
}

TEST(PortFailure, ShutdownFailureLeavesNothingBehind) {
    RecordingPort port;
    port.failAt = 1;
    commands::ProgramB b(port);
    EXPECT_THROW(b.cmdSHDN_Click(), bus::PortError);
    EXPECT_TRUE(port.log.empty());
    b.cmdSHDN_Click();
    EXPECT_EQ(port.log, std::vector<Access>{W(0xAF)});
}

}  // namespace
