// A chip strapped to another address: every frame and read-back of a session
// carries the new address byte and is otherwise the one the default makes, and
// a board at one address answers there and nowhere else.
#include "commands/descriptor.h"
#include "script/actions.h"
#include "script/executor.h"
#include "sim/board.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Outcome {
    std::vector<sim::Transaction> seen;
    std::vector<int> reads;
    std::vector<std::string> errors;
};

Outcome session(const commands::Descriptor& descriptor, std::uint8_t chipAt, std::uint8_t programAt, bool checkAck,
            const std::string& words) {
    sim::Faults strap;
    strap.address = chipAt;
    sim::Board board(true, strap);
    auto program = descriptor.make(board);
    program->setAddress(programAt);
    program->setCheckAck(checkAck);
    script::Executor executor(*program);
    Outcome run;
    for (const auto& action : script::parseActions(script::splitWords(words), descriptor)) {
        const auto result = executor.execute(action);
        if (result.read) run.reads.push_back(*result.read);
        if (!result.ok) run.errors.push_back(result.error);
    }
    for (std::size_t i = 0; i < board.transactionCount(); ++i) run.seen.push_back(board.transaction(i));
    return run;
}

struct Session {
    const commands::Descriptor* program;
    std::string words;
};

TEST(Address, FramesDifferOnlyInTheAddressByte) {
    for (const Session& s : {Session{&commands::kDescriptorB, "set 1 77 set 2 200 mid ch1 full read"},
                             Session{&commands::kDescriptorA, "set 1 77 set 2 200 mid ch1 full get"}}) {
        const Outcome before = session(*s.program, 0x2c, 0x2c, false, s.words);
        for (const int address : {0x08, 0x2d, 0x50, 0x77}) {
            SCOPED_TRACE(std::string(s.program->key) + " at " + std::to_string(address));
            const auto at = static_cast<std::uint8_t>(address);
            const Outcome after = session(*s.program, at, at, false, s.words);
            EXPECT_EQ(after.reads, before.reads);
            ASSERT_EQ(after.seen.size(), before.seen.size());
            for (std::size_t i = 0; i < before.seen.size(); ++i) {
                const sim::Transaction& b = before.seen[i];
                const sim::Transaction& a = after.seen[i];
                EXPECT_EQ(a.address7(), address);
                EXPECT_EQ(a.read, b.read);
                EXPECT_EQ(a.acknowledged, b.acknowledged);
                EXPECT_EQ(a.byteCount, b.byteCount);
                EXPECT_EQ(a.bytes, b.bytes);
                EXPECT_EQ(a.acks, b.acks);
                EXPECT_EQ(a.addressAck, b.addressAck);
                EXPECT_EQ(a.noNinthClock, b.noNinthClock);
            }
        }
    }
}

TEST(Address, TheBoardAnswersAtItsOwnAddressOnly) {
    struct Row {
        std::uint8_t chip;
        std::uint8_t program;
        std::string error;
    };
    for (const Row& row : {Row{0x2d, 0x2d, ""},
                           Row{0x2d, 0x2c, "set 1 5: cut short after 23 of 59 writes: no device answered at 0x2c"},
                           Row{0x2c, 0x2d, "set 1 5: cut short after 23 of 59 writes: no device answered at 0x2d"}}) {
        const Outcome run = session(commands::kDescriptorB, row.chip, row.program, true, "set 1 5 get");
        if (row.error.empty()) {
            EXPECT_TRUE(run.errors.empty());
            EXPECT_EQ(run.reads, std::vector<int>{5});
        } else {
            ASSERT_EQ(run.errors.size(), 2U);  // the set, and the get after it
            EXPECT_EQ(run.errors[0], row.error);
        }
    }
}

}  // namespace
