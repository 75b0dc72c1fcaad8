// Fuzzes the VXI-11 channel as hostile clients would reach it: the input is a
// run of calls, each from one of four clients, either a whole record of
// arbitrary bytes cut from the stream by the record marking or a well-formed
// RPC header (program, version and procedure chosen by the input) with
// arbitrary arguments, so that the arguments' decoding, the links and the
// locks are reached too. A call that waits for a lock is tried again later
// on, past its timeout. Every reply must be an RPC reply to its call, no
// larger than a record may be; the links stay within their bound; a client
// the channel closes loses its links.
#include "commands/descriptor.h"
#include "script/scpi.h"
#include "script/vxi11.h"
#include "sim/board.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void word(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

std::uint32_t readWord(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace script::vxi11;
    sim::Board board;
    script::ScpiInstrument instrument(commands::kDescriptorB, board, {"sim", "0"}, nullptr);
    Core core(instrument);
    auto now = Core::Clock::time_point{} + std::chrono::hours(1);
    std::string streams[4];
    std::size_t at = 0;
    while (at + 3 <= size) {
        const std::uint8_t how = data[at];
        const int client = how & 3;
        const std::size_t length = std::min<std::size_t>(data[at + 1] | (static_cast<std::size_t>(data[at + 2]) << 8),
                                                         size - at - 3);
        const std::string bytes(reinterpret_cast<const char*>(data) + at + 3, length);
        at += 3 + length;
        std::string record;
        std::uint32_t xid = 0;
        if ((how & 4) != 0) {
            // Raw bytes on the stream, marks and all.
            streams[client] += bytes;
            bool broken = false;
            auto taken = takeRecord(streams[client], broken);
            if (broken) {
                core.closed(client);
                streams[client].clear();
                continue;
            }
            if (!taken) continue;
            record = std::move(*taken);
            if (record.size() < 4) {
                if (core.call(client, record, now, now).kind != Core::Outcome::Kind::Close) std::abort();
                core.closed(client);
                continue;
            }
            xid = readWord(record, 0);
        } else {
            xid = static_cast<std::uint32_t>(at);
            word(record, xid);
            word(record, 0);
            word(record, 2);
            word(record, (how & 8) != 0 ? 100003 : kCoreProgram);
            word(record, (how & 16) != 0 ? 2 : kCoreVersion);
            // Procedures 10..26 and a few others.
            word(record, (how & 0x20) != 0 ? (how >> 6) : 10 + (bytes.empty() ? 0 : static_cast<std::uint8_t>(bytes[0]) % 17));
            word(record, 0);
            word(record, 0);
            word(record, 0);
            word(record, 0);
            record += bytes.empty() ? bytes : bytes.substr(1);
        }
        auto outcome = core.call(client, record, now, now);
        if (outcome.kind == Core::Outcome::Kind::Wait) {
            if (outcome.until < now) std::abort();
            // Past its lock_timeout it must be answered.
            outcome = core.call(client, record, now, outcome.until);
            if (outcome.kind != Core::Outcome::Kind::Reply) std::abort();
        }
        now += std::chrono::milliseconds(1);
        if (outcome.kind == Core::Outcome::Kind::Close) {
            core.closed(client);
            streams[client].clear();
            continue;
        }
        const std::string& r = outcome.reply;
        if (r.size() < 12 || r.size() > kMaxRecord || readWord(r, 0) != xid || readWord(r, 4) != 1) std::abort();
        if (core.links() > kMaxLinks || instrument.errorCount() > script::ScpiInstrument::kErrorQueue) std::abort();
    }
    for (int client = 0; client < 4; ++client) core.closed(client);
    if (core.links() != 0) std::abort();
    return 0;
}
