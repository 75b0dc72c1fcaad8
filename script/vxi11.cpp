// ONC RPC (RFC 5531) and XDR (RFC 4506) as far as the VXI-11 core channel
// needs them, and the channel's procedures over the SCPI instrument.
#include "script/vxi11.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace script::vxi11 {
namespace {

// XDR from the network: every read is checked against what is left, and a
// variable-length item against its bound; a failed read leaves ok false and
// reads as zero from then on.
class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && at_ == data_.size(); }

    std::uint32_t u32() {
        if (!ok_ || data_.size() - at_ < 4) return fail();
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(data_[at_++]);
        return v;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    bool boolean() {
        const std::uint32_t v = u32();
        if (v > 1) fail();
        return v == 1;
    }
    std::string_view opaque(std::size_t max) {
        const std::uint32_t size = u32();
        const std::size_t padded = (static_cast<std::size_t>(size) + 3) & ~std::size_t{3};
        if (!ok_ || size > max || data_.size() - at_ < padded) {
            fail();
            return {};
        }
        const std::string_view v = data_.substr(at_, size);
        at_ += padded;
        return v;
    }

private:
    std::uint32_t fail() {
        ok_ = false;
        return 0;
    }
    std::string_view data_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

class Writer {
public:
    Writer& u32(std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out_ += static_cast<char>((v >> shift) & 0xFF);
        return *this;
    }
    Writer& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    Writer& opaque(std::string_view v) {
        u32(static_cast<std::uint32_t>(v.size()));
        out_ += v;
        out_.append((4 - v.size() % 4) % 4, '\0');
        return *this;
    }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

enum : std::uint32_t { kCall = 0, kReply = 1 };
enum : std::uint32_t { kAccepted = 0, kDenied = 1 };
enum : std::uint32_t { kSuccess = 0, kProgUnavail = 1, kProgMismatch = 2, kProcUnavail = 3, kGarbageArgs = 4 };
constexpr std::size_t kMaxAuth = 400;  // RFC 5531's bound on an auth body
constexpr std::size_t kMaxDeviceName = 256;
constexpr std::size_t kMaxSrqHandle = 40;

// Device_Flags
constexpr std::int32_t kWaitLock = 0x01;
constexpr std::int32_t kEnd = 0x08;
constexpr std::int32_t kTermCharSet = 0x80;
// device_read's reasons
constexpr std::int32_t kReasonRequestCount = 0x01;
constexpr std::int32_t kReasonTermChar = 0x02;
constexpr std::int32_t kReasonEnd = 0x04;

enum Procedure : std::uint32_t {
    kNull = 0,
    kDeviceAbort = 1,  // the abort channel's
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceTrigger = 14,
    kDeviceClear = 15,
    kDeviceRemote = 16,
    kDeviceLocal = 17,
    kDeviceLock = 18,
    kDeviceUnlock = 19,
    kDeviceEnableSrq = 20,
    kDeviceDocmd = 22,
    kDestroyLink = 23,
    kCreateIntrChan = 25,
    kDestroyIntrChan = 26,
};

std::string acceptedHeader(std::uint32_t xid, std::uint32_t stat, Writer& w) {
    Writer head;
    head.u32(xid).u32(kReply).u32(kAccepted).u32(0).u32(0).u32(stat);  // verifier: AUTH_NONE, empty
    return head.take() + w.take();
}

}  // namespace

std::optional<std::string> takeRecord(std::string& stream, bool& broken) {
    std::size_t at = 0;
    std::size_t total = 0;
    for (;;) {
        // Empty fragments would let a stream grow without a record ending.
        if (at > kMaxRecord + 64) {
            broken = true;
            return std::nullopt;
        }
        if (stream.size() - at < 4) return std::nullopt;
        std::uint32_t mark = 0;
        for (std::size_t i = 0; i < 4; ++i) mark = (mark << 8) | static_cast<unsigned char>(stream[at + i]);
        const std::size_t length = mark & 0x7FFFFFFFu;
        total += length;
        if (total > kMaxRecord) {
            broken = true;
            return std::nullopt;
        }
        if (stream.size() - at - 4 < length) return std::nullopt;
        at += 4 + length;
        if ((mark & 0x80000000u) != 0) break;
    }
    std::string record;
    record.reserve(total);
    for (std::size_t i = 0; i < at;) {
        std::uint32_t mark = 0;
        for (std::size_t k = 0; k < 4; ++k) mark = (mark << 8) | static_cast<unsigned char>(stream[i + k]);
        const std::size_t length = mark & 0x7FFFFFFFu;
        record.append(stream, i + 4, length);
        i += 4 + length;
    }
    stream.erase(0, at);
    return record;
}

std::string markRecord(std::string_view record) {
    Writer w;
    w.u32(0x80000000u | static_cast<std::uint32_t>(record.size()));
    return w.take() + std::string(record);
}

struct Core::Call {
    int client;
    std::uint32_t xid;
    std::uint32_t procedure;
    Reader args;
    Clock::time_point arrived;
    Clock::time_point now;
};

Core::Outcome Core::call(int client, std::string_view record, Clock::time_point arrived, Clock::time_point now,
                         Channel channel) {
    Reader r(record);
    const std::uint32_t xid = r.u32();
    const std::uint32_t type = r.u32();
    if (!r.ok() || type != kCall) return {Outcome::Kind::Close, {}, {}, "sent a record that is not an RPC call"};
    const std::uint32_t rpcVersion = r.u32();
    const std::uint32_t program = r.u32();
    const std::uint32_t version = r.u32();
    const std::uint32_t procedure = r.u32();
    r.u32();  // credential: any flavour, not looked at
    r.opaque(kMaxAuth);
    r.u32();  // verifier
    r.opaque(kMaxAuth);
    if (!r.ok()) return {Outcome::Kind::Close, {}, {}, "sent an RPC call cut short"};
    if (rpcVersion != 2) {
        Writer w;
        w.u32(xid).u32(kReply).u32(kDenied).u32(0).u32(2).u32(2);  // RPC_MISMATCH, 2..2
        return {Outcome::Kind::Reply, w.take(), {}, {}};
    }
    Writer body;
    const std::uint32_t served = channel == Channel::Core ? kCoreProgram : kAbortProgram;
    if (program != served) return {Outcome::Kind::Reply, acceptedHeader(xid, kProgUnavail, body), {}, {}};
    if (version != 1) {
        body.u32(1).u32(1);
        return {Outcome::Kind::Reply, acceptedHeader(xid, kProgMismatch, body), {}, {}};
    }
    Call c{client, xid, procedure, r, arrived, now};
    return channel == Channel::Core ? dispatch(c) : abort(c);
}

// device_abort names a link of another connection (the abort channel's own
// has none); what it can end is a call of that link waiting for a lock.
Core::Outcome Core::abort(Call& c) {
    Writer w;
    auto reply = [&](std::uint32_t stat) { return Outcome{Outcome::Kind::Reply, acceptedHeader(c.xid, stat, w), {}, {}}; };
    if (c.procedure == kNull) return reply(c.args.atEnd() ? kSuccess : kGarbageArgs);
    if (c.procedure != kDeviceAbort) return reply(kProcUnavail);
    const std::int32_t lid = c.args.i32();
    if (!c.args.atEnd()) return reply(kGarbageArgs);
    const auto it = links_.find(lid);
    if (it == links_.end()) {
        w.i32(kInvalidLinkIdentifier);
    } else {
        if (it->second.waiting) {
            it->second.aborted = true;
            ++releases_;
        }
        w.i32(kNoError);
    }
    return reply(kSuccess);
}

// Where the device is locked by a link other than lid: error 11 at once, or
// (waitlock) a wait of up to lockTimeout ms from the call's arrival.
std::optional<std::int32_t> Core::lockCheck(const Call& call, std::int32_t lid, std::int32_t flags,
                                            std::uint32_t lockTimeout) {
    Link& link = links_.at(lid);
    const bool aborted = std::exchange(link.aborted, false);
    link.waiting = false;
    if (!lockHolder_ || *lockHolder_ == lid) return std::nullopt;
    if (aborted) return kAbort;
    if ((flags & kWaitLock) == 0 || call.now >= call.arrived + std::chrono::milliseconds(lockTimeout)) {
        return kDeviceLockedByAnotherLink;
    }
    link.waiting = true;
    return -1;  // wait
}

void Core::release(std::int32_t lid) {
    if (lockHolder_ == lid) {
        lockHolder_.reset();
        ++releases_;
    }
}

void Core::closed(int client) {
    for (auto it = links_.begin(); it != links_.end();) {
        if (it->second.client == client) {
            release(it->first);
            it = links_.erase(it);
        } else {
            ++it;
        }
    }
}

Core::Outcome Core::dispatch(Call& c) {
    Reader& a = c.args;
    Writer w;
    auto reply = [&](std::uint32_t stat = kSuccess) -> Outcome {
        return {Outcome::Kind::Reply, acceptedHeader(c.xid, stat, w), {}, {}};
    };
    auto garbage = [&] {
        w = Writer();
        return reply(kGarbageArgs);
    };
    auto waitFor = [&](std::uint32_t lockTimeout) -> Outcome {
        return {Outcome::Kind::Wait, {}, c.arrived + std::chrono::milliseconds(lockTimeout), {}};
    };
    // The caller's own link: another connection's link is as good as none.
    auto link = [&](std::int32_t lid) -> Link* {
        const auto it = links_.find(lid);
        return it != links_.end() && it->second.client == c.client ? &it->second : nullptr;
    };

    switch (c.procedure) {
        case kNull:
            if (!a.atEnd()) return garbage();
            return reply();

        case kCreateLink: {
            a.i32();  // clientId: nothing here depends on it
            const bool lockDevice = a.boolean();
            const std::uint32_t lockTimeout = a.u32();
            const std::string_view device = a.opaque(kMaxDeviceName);
            if (!a.atEnd()) return garbage();
            std::string name(device);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
            std::int32_t error = kNoError;
            if (name != "inst0" && name != "inst") {
                error = kDeviceNotAccessible;
            } else if (links_.size() >= kMaxLinks) {
                error = kOutOfResources;
            } else if (lockDevice && lockHolder_) {
                if (c.now < c.arrived + std::chrono::milliseconds(lockTimeout)) return waitFor(lockTimeout);
                error = kDeviceLockedByAnotherLink;
            }
            std::int32_t lid = 0;
            if (error == kNoError) {
                // Ids are never reused while the server runs, so a stale id
                // names no one's link.
                lid = nextLink_++;
                if (nextLink_ <= 0) nextLink_ = 1;
                Link& made = links_[lid];
                made.client = c.client;
                if (lockDevice) lockHolder_ = lid;
            }
            w.i32(error).i32(lid).u32(abortPort_).u32(kMaxRecvSize);
            return reply();
        }

        case kDeviceWrite: {
            const std::int32_t lid = a.i32();
            a.u32();  // io_timeout: a write never waits for the device
            const std::uint32_t lockTimeout = a.u32();
            const std::int32_t flags = a.i32();
            const std::string_view data = a.opaque(kMaxRecvSize);
            if (!a.atEnd()) return garbage();
            Link* l = link(lid);
            std::int32_t error = kNoError;
            std::uint32_t taken = 0;
            Outcome out;
            if (l == nullptr) {
                error = kInvalidLinkIdentifier;
            } else if (const auto locked = lockCheck(c, lid, flags, lockTimeout)) {
                if (*locked < 0) return waitFor(lockTimeout);
                error = *locked;
            } else if (l->unread >= kOutputLimit) {
                // Its answers are not being read: as a device whose output is
                // full takes no more input.
                error = kIoTimeout;
            } else {
                auto answered = [&](std::optional<std::string>& answer) {
                    out.ranLines = true;
                    if (!answer) return;
                    l->unread += answer->size() + 1;
                    l->answers.push_back(std::move(*answer) + "\n");
                };
                for (const char ch : data) {
                    std::optional<std::string> answer;
                    if (l->lines.feed(ch, instrument_, answer)) answered(answer);
                }
                std::optional<std::string> answer;
                if ((flags & kEnd) != 0 && l->lines.end(instrument_, answer)) answered(answer);
                taken = static_cast<std::uint32_t>(data.size());
            }
            w.i32(error).u32(taken);
            out.kind = Outcome::Kind::Reply;
            out.reply = acceptedHeader(c.xid, kSuccess, w);
            return out;
        }

        case kDeviceRead: {
            const std::int32_t lid = a.i32();
            std::uint32_t requestSize = a.u32();
            a.u32();  // io_timeout: an answer comes at once or not at all
            const std::uint32_t lockTimeout = a.u32();
            const std::int32_t flags = a.i32();
            const auto termChar = static_cast<char>(a.u32() & 0xFF);
            if (!a.atEnd()) return garbage();
            Link* l = link(lid);
            std::int32_t error = kNoError;
            std::int32_t reason = 0;
            std::string data;
            if (l == nullptr) {
                error = kInvalidLinkIdentifier;
            } else if (const auto locked = lockCheck(c, lid, flags, lockTimeout)) {
                if (*locked < 0) return waitFor(lockTimeout);
                error = *locked;
            } else if (l->answers.empty()) {
                // Every answer is made when its query is written: with none
                // waiting, waiting longer would bring none.
                error = kIoTimeout;
            } else {
                requestSize = std::min(requestSize, kMaxRecvSize);
                std::string& front = l->answers.front();
                std::size_t n = std::min<std::size_t>(requestSize, front.size());
                if ((flags & kTermCharSet) != 0) {
                    const std::size_t at = front.find(termChar);
                    if (at != std::string::npos && at < n) {
                        n = at + 1;
                        reason |= kReasonTermChar;
                    }
                }
                data = front.substr(0, n);
                front.erase(0, n);
                l->unread -= n;
                if (front.empty()) {
                    l->answers.pop_front();
                    reason |= kReasonEnd;
                } else if (n == requestSize) {
                    reason |= kReasonRequestCount;
                }
            }
            w.i32(error).i32(reason).opaque(data);
            return reply();
        }

        case kDeviceReadStb:
        case kDeviceTrigger:
        case kDeviceClear:
        case kDeviceRemote:
        case kDeviceLocal: {
            const std::int32_t lid = a.i32();
            const std::int32_t flags = a.i32();
            const std::uint32_t lockTimeout = a.u32();
            a.u32();  // io_timeout
            if (!a.atEnd()) return garbage();
            Link* l = link(lid);
            std::int32_t error = kNoError;
            std::uint32_t stb = 0;
            if (l == nullptr) {
                error = kInvalidLinkIdentifier;
            } else if (const auto locked = lockCheck(c, lid, flags, lockTimeout)) {
                if (*locked < 0) return waitFor(lockTimeout);
                error = *locked;
            } else if (c.procedure == kDeviceReadStb) {
                stb = instrument_.statusByte(!l->answers.empty());
            } else if (c.procedure == kDeviceClear) {
                // IEEE 488.2's device clear: the link's input and answers go;
                // the status registers stay.
                l->lines.clear();
                l->answers.clear();
                l->unread = 0;
            } else if (c.procedure == kDeviceTrigger) {
                error = kOperationNotSupported;  // the instrument has no trigger
            }
            w.i32(error);
            if (c.procedure == kDeviceReadStb) w.u32(stb);
            return reply();
        }

        case kDeviceLock: {
            const std::int32_t lid = a.i32();
            const std::int32_t flags = a.i32();
            const std::uint32_t lockTimeout = a.u32();
            if (!a.atEnd()) return garbage();
            std::int32_t error = kNoError;
            if (link(lid) == nullptr) {
                error = kInvalidLinkIdentifier;
            } else if (const auto locked = lockCheck(c, lid, flags, lockTimeout)) {
                if (*locked < 0) return waitFor(lockTimeout);
                error = *locked;
            } else {
                lockHolder_ = lid;
            }
            w.i32(error);
            return reply();
        }

        case kDeviceUnlock:
        case kDestroyLink: {
            const std::int32_t lid = a.i32();
            if (!a.atEnd()) return garbage();
            std::int32_t error = kNoError;
            if (link(lid) == nullptr) {
                error = kInvalidLinkIdentifier;
            } else if (c.procedure == kDeviceUnlock) {
                if (lockHolder_ != lid) error = kNoLockHeldByThisLink;
                release(lid);
            } else {
                release(lid);
                links_.erase(lid);
            }
            w.i32(error);
            return reply();
        }

        case kDeviceEnableSrq: {
            const std::int32_t lid = a.i32();
            a.boolean();
            a.opaque(kMaxSrqHandle);
            if (!a.atEnd()) return garbage();
            // No interrupt channel: service requests are read with device_readstb.
            w.i32(link(lid) == nullptr ? kInvalidLinkIdentifier : kOperationNotSupported);
            return reply();
        }

        case kDeviceDocmd:
            w.i32(kOperationNotSupported).opaque({});
            return reply();

        case kCreateIntrChan:
            w.i32(kOperationNotSupported);
            return reply();

        case kDestroyIntrChan:
            w.i32(kChannelNotEstablished);
            return reply();

        default:
            return reply(kProcUnavail);
    }
}

}  // namespace script::vxi11
