// The VXI-11 core channel on the simulated board, as records in and out: the
// RPC rules, the record marking, links, reads and their reasons, the status
// byte, device clear, locks between links, and what a hostile client sends.
#include "commands/descriptor.h"
#include "script/scpi.h"
#include "script/vxi11.h"
#include "sim/board.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using script::vxi11::Core;
using Kind = Core::Outcome::Kind;
using namespace std::chrono_literals;

struct Xdr {
    std::string out;
    Xdr& u(std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
        return *this;
    }
    Xdr& s(const std::string& v) {
        u(static_cast<std::uint32_t>(v.size()));
        out += v;
        out.append((4 - v.size() % 4) % 4, '\0');
        return *this;
    }
};

std::string callRecord(std::uint32_t procedure, const Xdr& args, std::uint32_t program = 0x0607AF,
                       std::uint32_t version = 1, std::uint32_t rpc = 2) {
    Xdr x;
    x.u(0x1234).u(0).u(rpc).u(program).u(version).u(procedure).u(0).u(0).u(0).u(0);
    return x.out + args.out;
}

struct Reply {
    std::uint32_t acceptStat = 99;
    std::vector<std::uint32_t> words;  // the result, word by word
    std::string text;                  // device_read's data
};

Reply parse(const std::string& r) {
    auto word = [&](std::size_t i) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(r.at(i * 4 + k));
        return v;
    };
    Reply p;
    EXPECT_EQ(word(0), 0x1234u);
    EXPECT_EQ(word(1), 1u);
    if (word(2) != 0) return p;  // denied
    p.acceptStat = word(5);
    for (std::size_t i = 6; i * 4 < r.size(); ++i) p.words.push_back(word(i));
    return p;
}

class Vxi11 : public testing::Test {
protected:
    sim::Board board;
    script::ScpiInstrument instrument{commands::kDescriptorB, board, {"sim", "0.8.0"}, nullptr};
    Core core{instrument};
    Core::Clock::time_point t0 = Core::Clock::now();

    Core::Outcome send(int client, std::uint32_t procedure, const Xdr& args, Core::Clock::time_point now = {}) {
        const auto at = now == Core::Clock::time_point{} ? t0 : now;
        return core.call(client, callRecord(procedure, args), t0, at);
    }
    std::vector<std::uint32_t> words(int client, std::uint32_t procedure, const Xdr& args) {
        const auto out = send(client, procedure, args);
        EXPECT_EQ(out.kind, Kind::Reply);
        const Reply r = parse(out.reply);
        EXPECT_EQ(r.acceptStat, 0u);
        return r.words;
    }
    std::int32_t link(int client, bool lock = false, const std::string& device = "inst0") {
        const auto w = words(client, 10, Xdr().u(7).u(lock ? 1 : 0).u(0).s(device));
        EXPECT_EQ(w.size(), 4u);
        return w[0] == 0 ? static_cast<std::int32_t>(w[1]) : -static_cast<std::int32_t>(w[0]);
    }
    std::uint32_t write(int client, std::int32_t lid, const std::string& data, std::uint32_t flags = 8) {
        return words(client, 11, Xdr().u(static_cast<std::uint32_t>(lid)).u(1000).u(0).u(flags).s(data))[0];
    }
    // error, reason, data
    std::tuple<std::uint32_t, std::uint32_t, std::string> read(int client, std::int32_t lid, std::uint32_t size = 1024,
                                                               std::uint32_t flags = 0, char term = 0) {
        const auto out = send(client, 12, Xdr().u(static_cast<std::uint32_t>(lid)).u(size).u(1000).u(0).u(flags)
                                              .u(static_cast<unsigned char>(term)));
        const Reply r = parse(out.reply);
        std::string data;
        if (r.words.size() >= 3) data = out.reply.substr(9 * 4, r.words[2]);
        return {r.words.at(0), r.words.at(1), data};
    }
    std::uint32_t lock(int client, std::int32_t lid) {
        return words(client, 18, Xdr().u(static_cast<std::uint32_t>(lid)).u(0).u(0))[0];
    }
    std::vector<std::uint32_t> generic(int client, std::uint32_t procedure, std::int32_t lid, std::uint32_t flags = 0,
                                       std::uint32_t lockTimeout = 0) {
        return words(client, procedure, Xdr().u(static_cast<std::uint32_t>(lid)).u(flags).u(lockTimeout).u(0));
    }
};

TEST(Vxi11Records, FragmentsMakeOneRecordAndAnOversizedOneBreaksTheStream) {
    std::string stream;
    Xdr first, last;
    first.u(3).out += "abc";
    last.u(0x80000002u).out += "de";
    stream = first.out + last.out + "\x80";
    bool broken = false;
    EXPECT_EQ(script::vxi11::takeRecord(stream, broken), "abcde");
    EXPECT_EQ(stream, "\x80");  // the next record's mark, part come
    EXPECT_FALSE(script::vxi11::takeRecord(stream, broken));
    EXPECT_FALSE(broken);

    std::string huge = Xdr().u(0x80000000u | static_cast<std::uint32_t>(script::vxi11::kMaxRecord + 1)).out;
    EXPECT_FALSE(script::vxi11::takeRecord(huge, broken));
    EXPECT_TRUE(broken);

    // Empty fragments that never end a record.
    std::string empties;
    for (std::size_t i = 0; i < script::vxi11::kMaxRecord; ++i) empties += std::string(4, '\0');
    broken = false;
    EXPECT_FALSE(script::vxi11::takeRecord(empties, broken));
    EXPECT_TRUE(broken);
}

struct RpcCase {
    const char* name;
    std::string record;
    Kind kind;
    std::uint32_t acceptStat;  // 99: denied
};

TEST_F(Vxi11, CallsThatBreakTheRpcRulesAreAnsweredAsOncRpcSaysOrClosed) {
    const std::vector<RpcCase> cases = {
        {"another program", callRecord(10, Xdr(), 100003), Kind::Reply, 1},
        {"another version", callRecord(10, Xdr(), 0x0607AF, 2), Kind::Reply, 2},
        {"an unknown procedure", callRecord(99, Xdr()), Kind::Reply, 3},
        {"create_link cut short", callRecord(10, Xdr().u(1)), Kind::Reply, 4},
        {"a device name longer than its bound", callRecord(10, Xdr().u(1).u(0).u(0).s(std::string(300, 'i'))),
         Kind::Reply, 4},
        {"a length past the record", callRecord(11, Xdr().u(1).u(0).u(0).u(8).u(0xFFFFFFF0u)), Kind::Reply, 4},
        {"a bool that is neither", callRecord(10, Xdr().u(1).u(7).u(0).s("inst0")), Kind::Reply, 4},
        {"bytes after the arguments", callRecord(23, Xdr().u(1).u(0)), Kind::Reply, 4},
        {"RPC version 3", callRecord(0, Xdr(), 0x0607AF, 1, 3), Kind::Reply, 99},
        {"a reply instead of a call", Xdr().u(0x1234).u(1).u(0).out, Kind::Close, 0},
        {"a header cut short", Xdr().u(0x1234).u(0).u(2).u(0x0607AF).out, Kind::Close, 0},
        {"credentials longer than RPC allows", Xdr().u(0x1234).u(0).u(2).u(0x0607AF).u(1).u(0).u(1).s(std::string(401, 'x')).out,
         Kind::Close, 0},
    };
    for (const RpcCase& c : cases) {
        const auto out = core.call(1, c.record, t0, t0);
        EXPECT_EQ(out.kind, c.kind) << c.name;
        if (c.kind == Kind::Reply) {
            EXPECT_EQ(parse(out.reply).acceptStat, c.acceptStat) << c.name;
        }
    }
    EXPECT_EQ(core.links(), 0u);
    EXPECT_EQ(instrument.commandsRun(), 0u);
}

TEST_F(Vxi11, AWriteRunsItsLinesAndReadsReturnEachAnswerWithItsReason) {
    const auto lid = link(1);
    ASSERT_GT(lid, 0);
    // Two lines in one write, the second ended by END alone.
    EXPECT_EQ(write(1, lid, "WIP1 200\nWIP1?;WIP2?"), 0u);
    EXPECT_EQ(board.wiper(1), 200);
    // A write without END leaves its line open until one comes.
    EXPECT_EQ(write(1, lid, "*IDN", 0), 0u);
    EXPECT_EQ(write(1, lid, "?", 8), 0u);

    EXPECT_EQ(read(1, lid, 4), std::make_tuple(0u, 1u, std::string("200;")));        // REQCNT
    EXPECT_EQ(read(1, lid), std::make_tuple(0u, 4u, std::string("0\n")));             // END
    EXPECT_EQ(read(1, lid, 1024, 0x80, ','), std::make_tuple(0u, 2u, std::string("px77xx,")));  // CHR
    EXPECT_EQ(read(1, lid), std::make_tuple(0u, 4u, std::string("PX7702_RevA,sim,0.8.0\n")));
    // Nothing waits: an I/O timeout at once, since no answer can come later.
    EXPECT_EQ(std::get<0>(read(1, lid)), 15u);
}

TEST_F(Vxi11, TheStatusByteShowsAnAnswerWaitingAndDeviceClearDropsItButKeepsTheErrors) {
    const auto lid = link(1);
    EXPECT_EQ(write(1, lid, "WIP1 300"), 0u);
    EXPECT_EQ(generic(1, 13, lid), (std::vector<std::uint32_t>{0, 0x04}));  // EAV
    EXPECT_EQ(write(1, lid, "*IDN?"), 0u);
    EXPECT_EQ(generic(1, 13, lid), (std::vector<std::uint32_t>{0, 0x14}));  // EAV and MAV
    EXPECT_EQ(write(1, lid, "WIP2 5", 0), 0u);  // a line left open
    EXPECT_EQ(generic(1, 15, lid), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(generic(1, 13, lid), (std::vector<std::uint32_t>{0, 0x04}));
    EXPECT_EQ(write(1, lid, "SYST:ERR?"), 0u);  // the open line went with the clear
    EXPECT_EQ(std::get<2>(read(1, lid)), "-222,\"Data out of range;300 (0..255)\"\n");
    EXPECT_EQ(board.wiper(2), 128);
}

TEST_F(Vxi11, WhatTheInstrumentDoesNotDoIsRefusedWithItsCode) {
    const auto lid = static_cast<std::uint32_t>(link(1));
    struct Case {
        const char* name;
        std::uint32_t procedure;
        Xdr args;
        std::uint32_t error;
    };
    const std::vector<Case> cases = {
        {"device_trigger", 14, Xdr().u(lid).u(0).u(0).u(0), 8},
        {"device_remote", 16, Xdr().u(lid).u(0).u(0).u(0), 0},
        {"device_local", 17, Xdr().u(lid).u(0).u(0).u(0), 0},
        {"device_enable_srq", 20, Xdr().u(lid).u(1).s("handle"), 8},
        {"device_enable_srq, no link", 20, Xdr().u(999).u(1).s(""), 4},
        {"create_intr_chan", 25, Xdr().u(0x7F000001).u(1234).u(0x0607B1).u(1).u(0), 8},
        {"destroy_intr_chan", 26, Xdr(), 6},
    };
    for (const Case& c : cases) EXPECT_EQ(words(1, c.procedure, c.args).at(0), c.error) << c.name;
    // A read of no bytes takes none and says why.
    EXPECT_EQ(write(1, static_cast<std::int32_t>(lid), "*IDN?"), 0u);
    EXPECT_EQ(read(1, static_cast<std::int32_t>(lid), 0), std::make_tuple(0u, 1u, std::string()));
}

TEST_F(Vxi11, LinksAreEachClientsOwnAndBounded) {
    EXPECT_EQ(link(1, false, "gpib0,5"), -3);
    const auto mine = link(1);
    // Another connection, a link never made, a link destroyed: error 4.
    EXPECT_EQ(write(2, mine, "WIP1 1"), 4u);
    EXPECT_EQ(write(1, 999, "WIP1 1"), 4u);
    EXPECT_EQ(generic(1, 13, 999)[0], 4u);
    EXPECT_EQ(words(1, 23, Xdr().u(static_cast<std::uint32_t>(mine)))[0], 0u);
    EXPECT_EQ(write(1, mine, "WIP1 1"), 4u);
    EXPECT_EQ(board.wiper(1), 128);
    // A thousand links asked for: the table stays at its bound.
    int refused = 0;
    for (int i = 0; i < 1000; ++i) refused += link(3) == -9 ? 1 : 0;
    EXPECT_EQ(core.links(), script::vxi11::kMaxLinks);
    EXPECT_EQ(refused, 1000 - static_cast<int>(script::vxi11::kMaxLinks));
    core.closed(3);
    EXPECT_EQ(core.links(), 0u);
    EXPECT_GT(link(1), 0);
}

TEST_F(Vxi11, ALockHoldsTheOtherLinksBackUntilReleasedOrTheirTimeoutRunsOut) {
    const auto a = link(1);
    const auto b = link(2);
    EXPECT_EQ(lock(1, a), 0u);
    EXPECT_EQ(lock(2, b), 11u);
    EXPECT_EQ(write(2, b, "WIP1 9"), 11u);
    EXPECT_EQ(write(1, a, "WIP1 7"), 0u);
    // With waitlock, b's call waits up to its lock_timeout ...
    const auto record = callRecord(11, Xdr().u(static_cast<std::uint32_t>(b)).u(0).u(500).u(0x09).s("WIP1 9"));
    auto out = core.call(2, record, t0, t0 + 100ms);
    ASSERT_EQ(out.kind, Kind::Wait);
    EXPECT_EQ(out.until, t0 + 500ms);
    // ... and fails with 11 once it has run out,
    EXPECT_EQ(parse(core.call(2, record, t0, t0 + 500ms).reply).words[0], 11u);
    // or goes on once the lock is released.
    EXPECT_EQ(core.call(2, record, t0, t0 + 100ms).kind, Kind::Wait);
    const auto before = core.releases();
    EXPECT_EQ(words(2, 19, Xdr().u(static_cast<std::uint32_t>(b)))[0], 12u);  // unlock: b holds none
    EXPECT_EQ(words(1, 19, Xdr().u(static_cast<std::uint32_t>(a)))[0], 0u);
    EXPECT_GT(core.releases(), before);
    EXPECT_EQ(parse(core.call(2, record, t0, t0 + 200ms).reply).words[0], 0u);
    EXPECT_EQ(board.wiper(1), 9);
    // A client that goes away lets its lock go.
    EXPECT_GT(link(3, true), 0);
    EXPECT_EQ(write(2, b, "WIP1 1"), 11u);
    core.closed(3);
    EXPECT_EQ(write(2, b, "WIP1 1"), 0u);
}

TEST(Vxi11Abort, DeviceAbortEndsALinksCallWaitingForTheLockAndNothingElse) {
    sim::Board board;
    script::ScpiInstrument instrument{commands::kDescriptorB, board, {"sim", "0.8.0"}, nullptr};
    Core core{instrument, 4321};
    const auto t0 = Core::Clock::now();
    auto words = [&](int client, const std::string& record, Core::Channel channel = Core::Channel::Core) {
        const auto out = core.call(client, record, t0, t0, channel);
        EXPECT_EQ(out.kind, Kind::Reply);
        return parse(out.reply).words;
    };
    const auto created = words(1, callRecord(10, Xdr().u(1).u(1).u(0).s("inst0")));  // with the lock
    EXPECT_EQ(created[2], 4321u);                                                   // abortPort
    const auto waiter = static_cast<std::int32_t>(words(2, callRecord(10, Xdr().u(2).u(0).u(0).s("inst0")))[1]);
    auto abortRecord = [&](std::int32_t lid) {
        Xdr x;
        x.u(0x1234).u(0).u(2).u(0x0607B0).u(1).u(1).u(0).u(0).u(0).u(0).u(static_cast<std::uint32_t>(lid));
        return x.out;
    };
    // Nothing waits: the abort changes nothing.
    EXPECT_EQ(words(3, abortRecord(waiter), Core::Channel::Abort), (std::vector<std::uint32_t>{0}));
    const auto write = callRecord(11, Xdr().u(static_cast<std::uint32_t>(waiter)).u(0).u(10000).u(0x09).s("WIP1 9"));
    ASSERT_EQ(core.call(2, write, t0, t0).kind, Kind::Wait);
    const auto before = core.releases();
    EXPECT_EQ(words(3, abortRecord(waiter), Core::Channel::Abort), (std::vector<std::uint32_t>{0}));
    EXPECT_GT(core.releases(), before);
    EXPECT_EQ(parse(core.call(2, write, t0, t0).reply).words, (std::vector<std::uint32_t>{23, 0}));
    // The next call waits again, as any would.
    EXPECT_EQ(core.call(2, write, t0, t0).kind, Kind::Wait);
    EXPECT_EQ(words(3, abortRecord(999), Core::Channel::Abort), (std::vector<std::uint32_t>{4}));
    // Each channel takes its own program alone.
    EXPECT_EQ(parse(core.call(3, callRecord(10, Xdr()), t0, t0, Core::Channel::Abort).reply).acceptStat, 1u);
    EXPECT_EQ(parse(core.call(3, abortRecord(waiter), t0, t0).reply).acceptStat, 1u);
    EXPECT_EQ(board.wiper(1), 128);
}

TEST_F(Vxi11, AnswersLeftUnreadStopTheLinksWritesAndNoneAreLost) {
    const auto lid = link(1);
    const std::string queries = [] {
        std::string q;
        while (q.size() < 4000) q += "*IDN?;";
        return q;
    }();
    std::uint32_t error = 0;
    int writes = 0;
    while ((error = write(1, lid, queries)) == 0 && writes < 1000) ++writes;
    EXPECT_EQ(error, 15u);
    EXPECT_LT(writes, 1000);
    int answers = 0;
    while (std::get<0>(read(1, lid, script::vxi11::kMaxRecvSize)) == 0) ++answers;
    EXPECT_GE(answers, writes);
    EXPECT_EQ(write(1, lid, "*IDN?"), 0u);
}

}  // namespace
