// The instrument's VXI-11 core channel (ONC RPC program 0x0607AF, version 1):
// what VISA opens for TCPIP::host::INSTR. No sockets here: pxctl serve carries
// the records, the tests and the fuzzer call it directly. Each link has its
// own input and answers over the one ScpiInstrument the raw socket also uses,
// so the error queue and status registers are shared; a lock is the device's,
// held by one link at a time.
//
// Everything read from the network is bounded: a record is at most kMaxRecord
// bytes, a link's unread answers kOutputLimit, the links kMaxLinks. A call
// that breaks the RPC rules is answered as ONC RPC says (PROG_UNAVAIL,
// PROC_UNAVAIL, GARBAGE_ARGS, ...); a stream that breaks the record marking
// is closed.
#pragma once

#include "script/scpi.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace script::vxi11 {

inline constexpr std::uint32_t kCoreProgram = 0x0607AF;
inline constexpr std::uint32_t kCoreVersion = 1;
// The abort channel: device_abort, from a connection of its own, ends a call
// of the link that waits for a lock with error 23.
inline constexpr std::uint32_t kAbortProgram = 0x0607B0;
inline constexpr std::uint32_t kAbortVersion = 1;
// The data one device_write may carry (create_link's maxRecvSize).
inline constexpr std::uint32_t kMaxRecvSize = 16 * 1024;
// A call record: the largest device_write and its RPC header with room to spare.
inline constexpr std::size_t kMaxRecord = kMaxRecvSize + 1024;
inline constexpr std::size_t kMaxLinks = 32;
inline constexpr std::size_t kOutputLimit = 64 * 1024;

// VXI-11's error codes.
enum Error : std::int32_t {
    kNoError = 0,
    kSyntaxError = 1,
    kDeviceNotAccessible = 3,
    kInvalidLinkIdentifier = 4,
    kParameterError = 5,
    kChannelNotEstablished = 6,
    kOperationNotSupported = 8,
    kOutOfResources = 9,
    kDeviceLockedByAnotherLink = 11,
    kNoLockHeldByThisLink = 12,
    kIoTimeout = 15,
    kIoError = 17,
    kAbort = 23,
};

// Takes the next whole record from the front of a TCP stream (RFC 5531's
// record marking: fragments, each led by its length and a last-fragment bit).
// nullopt where it has not all come yet; broken is set where the stream
// breaks the rules (a record longer than kMaxRecord), and the connection must close.
std::optional<std::string> takeRecord(std::string& stream, bool& broken);
// A record as it goes on the stream: one fragment, the last.
std::string markRecord(std::string_view record);

class Core {
public:
    using Clock = std::chrono::steady_clock;

    enum class Channel { Core, Abort };

    // abortPort: where the abort channel listens, which create_link tells;
    // 0 where there is none.
    explicit Core(ScpiInstrument& instrument, std::uint16_t abortPort = 0)
        : instrument_(instrument), abortPort_(abortPort) {}

    struct Outcome {
        enum class Kind { Reply, Wait, Close } kind = Kind::Reply;
        std::string reply;          // Reply: the record to send
        Clock::time_point until{};  // Wait: the latest time to call again
        std::string why;            // Close: why, in a few words
        bool ranLines = false;      // a device_write ran lines (betweenLines is due)
    };

    // One call record from the connection client, which arrived at arrived.
    // Wait: the device is locked by another link and the call may wait for
    // it; call again with the same record when a lock is released and at
    // until at the latest, when it fails with error 11.
    Outcome call(int client, std::string_view record, Clock::time_point arrived, Clock::time_point now,
                 Channel channel = Channel::Core);
    // The client's connection closed: its links go, and a lock one held.
    void closed(int client);

    std::size_t links() const { return links_.size(); }
    // Grows whenever a lock is released or a link's call is aborted: waiting
    // calls may go on.
    std::uint64_t releases() const { return releases_; }

private:
    struct Link {
        int client = 0;
        bool waiting = false;  // a call of it waits for the lock
        bool aborted = false;  // device_abort came while it waited: the call ends
        ScpiLines lines;
        std::deque<std::string> answers;  // each ends with LF; the front may be part read
        std::size_t unread = 0;           // bytes in answers
    };
    struct Call;
    Outcome dispatch(Call& call);
    Outcome abort(Call& call);
    std::optional<std::int32_t> lockCheck(const Call& call, std::int32_t lid, std::int32_t flags, std::uint32_t lockTimeout);
    void release(std::int32_t lid);

    ScpiInstrument& instrument_;
    std::uint16_t abortPort_;
    std::map<std::int32_t, Link> links_;
    std::int32_t nextLink_ = 1;
    std::optional<std::int32_t> lockHolder_;
    std::uint64_t releases_ = 0;
};

}  // namespace script::vxi11
