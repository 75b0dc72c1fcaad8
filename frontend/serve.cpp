// The SCPI server: a few clients, each with its own input and answers, over
// the platform's listeners: lines on the raw socket, ONC RPC records on the
// VXI-11 channel (script/vxi11.h). Their lines run one at a time, in one loop, so
// frames never interleave; a signal is acted on between commands, so a frame
// under way always completes.
//
// Memory stays bounded: a line longer than the instrument takes is dropped as
// it arrives, and a client whose answers pile up unread has its input left in
// the socket until it reads them (answers are never cut or thrown away: each
// reaches the client whole and in order, or the client is closed). A client
// that reads nothing for kStall while answers wait, or sends nothing for the
// idle timeout, is closed.
#include "frontend/serve.h"

#include "platform/announce.h"
#include "platform/listener.h"
#include "platform/portmapper.h"
#include "script/vxi11.h"

#include <algorithm>
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace frontend {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStall = std::chrono::seconds(5);
// Answers a client has not read yet beyond which its next lines wait.
constexpr std::size_t kOutputLimit = 64 * 1024;
// After an accept fails for want of memory, the listening socket rests this long.
constexpr auto kAcceptPause = std::chrono::seconds(1);

void say(const std::string& text) {
    std::fprintf(stderr, "pxctl: serve: %s\n", text.c_str());
    std::fflush(stderr);
}

class Client {
public:
    explicit Client(std::unique_ptr<platform::Connection> connection)
        : connection_(std::move(connection)), name_(connection_->peer()), lastInput_(Clock::now()),
          lastProgress_(lastInput_) {}

    bool open() const { return connection_ != nullptr; }
    platform::Connection& connection() { return *connection_; }
    const std::string& name() const { return name_; }
    bool waiting() const { return !output_.empty(); }
    // Whether its next lines may run: its answers are being read.
    bool roomForAnswers() const { return output_.size() < kOutputLimit; }
    bool wantsInput() const { return open() && !ended_ && inbox_.empty() && roomForAnswers(); }
    bool hasLines() const { return open() && !inbox_.empty() && roomForAnswers(); }

    void close(const std::string& why) {
        if (!open()) return;
        connection_.reset();
        say("client " + name_ + " " + why);
    }

    void receive() {
        switch (connection_->receive(inbox_)) {
            case platform::Connection::Io::Done: lastInput_ = Clock::now(); break;
            case platform::Connection::Io::End: ended_ = true; break;  // its lines so far are still answered
            case platform::Connection::Io::Again: break;
            case platform::Connection::Io::Failed: close("went away (" + connection_->error() + ")"); break;
        }
    }

    // Runs the complete lines received, while the client reads its answers and
    // no signal has come.
    void runLines(script::ScpiInstrument& instrument, const platform::SignalWatch& signals,
                  const std::function<void()>& betweenLines) {
        std::size_t used = 0;
        while (used < inbox_.size() && roomForAnswers() && signals.pending() == 0) {
            std::optional<std::string> answer;
            if (!lines_.feed(inbox_[used++], instrument, answer)) continue;
            if (answer) output_ += *answer + "\n";
            if (betweenLines) betweenLines();
        }
        inbox_.erase(0, used);
        flush();
    }

    void flush() {
        while (open() && !output_.empty()) {
            const std::size_t before = output_.size();
            const auto io = connection_->send(output_);
            if (io == platform::Connection::Io::Failed) {
                close("went away (" + connection_->error() + ")");
            } else if (output_.size() < before) {
                lastProgress_ = Clock::now();
            } else {
                return;  // the client's window is full
            }
        }
    }

    // Closes the client where it is done, stalled or silent for too long.
    void check(Clock::time_point now, std::chrono::seconds idle) {
        if (!open()) return;
        if (ended_ && inbox_.empty() && output_.empty()) {
            close(!lines_.midLine() ? "disconnected" : "disconnected mid-line; the part line was dropped");
        } else if (waiting() && now - lastProgress_ > kStall) {
            close("closed: it has read no answer for " + std::to_string(kStall.count()) + " s");
        } else if (idle.count() > 0 && !waiting() && now - lastInput_ > idle) {
            close("closed: it sent nothing for " + std::to_string(idle.count()) + " s");
        }
    }

    // When check() next has something to do; max() where only input can change it.
    Clock::time_point deadline(std::chrono::seconds idle) const {
        if (waiting()) return lastProgress_ + kStall + std::chrono::milliseconds(1);
        if (idle.count() > 0) return lastInput_ + idle + std::chrono::milliseconds(1);
        return Clock::time_point::max();
    }

private:
    std::unique_ptr<platform::Connection> connection_;  // none once closed
    std::string name_;
    std::string inbox_;   // received, not yet run
    script::ScpiLines lines_;  // the line under way
    std::string output_;  // answers not yet sent
    bool ended_ = false;  // the client sends no more
    Clock::time_point lastInput_;
    Clock::time_point lastProgress_;
};

// A VXI-11 client: one RPC record at a time, each answered before the next is
// taken, so a call waiting for a lock holds back the ones behind it as the
// client expects. Its input is read only while no record waits and its
// replies are being read, so memory stays bounded.
class RpcClient {
public:
    RpcClient(std::unique_ptr<platform::Connection> connection, int id, script::vxi11::Core::Channel channel)
        : connection_(std::move(connection)), name_(connection_->peer()), id_(id), channel_(channel),
          lastInput_(Clock::now()), lastProgress_(lastInput_) {}

    bool open() const { return connection_ != nullptr; }
    bool abortChannel() const { return channel_ == script::vxi11::Core::Channel::Abort; }
    platform::Connection& connection() { return *connection_; }
    const std::string& name() const { return name_; }
    bool waiting() const { return !output_.empty(); }
    bool wantsInput() const {
        return open() && !ended_ && !pending_ && inbox_.size() <= script::vxi11::kMaxRecord &&
               output_.size() < kOutputLimit;
    }

    void close(script::vxi11::Core& core, const std::string& why) {
        if (!open()) return;
        connection_.reset();
        core.closed(id_);
        say("VXI-11 client " + name_ + " " + why);
    }

    void receive(script::vxi11::Core& core) {
        switch (connection_->receive(inbox_)) {
            case platform::Connection::Io::Done: lastInput_ = Clock::now(); break;
            case platform::Connection::Io::End: ended_ = true; break;
            case platform::Connection::Io::Again: break;
            case platform::Connection::Io::Failed: close(core, "went away (" + connection_->error() + ")"); break;
        }
    }

    // Answers the records received, one after another, until one must wait
    // for a lock or a signal comes.
    void serveCalls(script::vxi11::Core& core, const platform::SignalWatch& signals,
                    const std::function<void()>& betweenLines) {
        while (open() && output_.size() < kOutputLimit && signals.pending() == 0) {
            const auto now = Clock::now();
            if (!pending_) {
                bool broken = false;
                pending_ = script::vxi11::takeRecord(inbox_, broken);
                if (broken) {
                    close(core, "closed: it sent a record longer than " +
                                    std::to_string(script::vxi11::kMaxRecord) + " bytes");
                    return;
                }
                if (!pending_) break;
                arrived_ = now;
            }
            auto outcome = core.call(id_, *pending_, arrived_, now, channel_);
            if (outcome.kind == script::vxi11::Core::Outcome::Kind::Wait) {
                until_ = outcome.until;
                break;
            }
            pending_.reset();
            if (outcome.kind == script::vxi11::Core::Outcome::Kind::Close) {
                close(core, "closed: it " + outcome.why);
                return;
            }
            output_ += script::vxi11::markRecord(outcome.reply);
            if (outcome.ranLines && betweenLines) betweenLines();
        }
        flush(core);
    }

    void flush(script::vxi11::Core& core) {
        while (open() && !output_.empty()) {
            const std::size_t before = output_.size();
            if (connection_->send(output_) == platform::Connection::Io::Failed) {
                close(core, "went away (" + connection_->error() + ")");
            } else if (output_.size() < before) {
                lastProgress_ = Clock::now();
            } else {
                return;
            }
        }
    }

    void check(script::vxi11::Core& core, Clock::time_point now, std::chrono::seconds idle) {
        if (!open()) return;
        if (ended_ && !pending_ && output_.empty()) {
            close(core, inbox_.empty() ? "disconnected" : "disconnected mid-record");
        } else if (waiting() && now - lastProgress_ > kStall) {
            close(core, "closed: it has read no reply for " + std::to_string(kStall.count()) + " s");
        } else if (idle.count() > 0 && !waiting() && !pending_ && now - lastInput_ > idle) {
            close(core, "closed: it sent nothing for " + std::to_string(idle.count()) + " s");
        }
    }

    // A call waiting for a lock is tried again when its time runs out, or when a lock is released.
    Clock::time_point deadline(std::chrono::seconds idle) const {
        if (pending_) return until_;
        if (waiting()) return lastProgress_ + kStall + std::chrono::milliseconds(1);
        if (idle.count() > 0) return lastInput_ + idle + std::chrono::milliseconds(1);
        return Clock::time_point::max();
    }

private:
    std::unique_ptr<platform::Connection> connection_;
    std::string name_;
    int id_;
    script::vxi11::Core::Channel channel_;
    std::string inbox_;
    std::string output_;
    std::optional<std::string> pending_;  // a call record taken, not yet answered
    Clock::time_point arrived_{};
    Clock::time_point until_{};
    bool ended_ = false;
    Clock::time_point lastInput_;
    Clock::time_point lastProgress_;
};

// Where the VXI-11 channel listens: --vxi11, else the raw socket's host on a
// port the system picks.
std::string vxi11Address(const ServeOptions& options) {
    if (!options.vxi11.empty()) return options.vxi11;
    std::string host, port;
    if (!platform::splitListenAddress(options.listen, host, port)) return options.listen;
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":0";
}

std::uint16_t portOf(const std::string& name) {
    return static_cast<std::uint16_t>(std::stoul(name.substr(name.rfind(':') + 1)));
}

}  // namespace

int serve(const ServeOptions& options, script::ScpiInstrument& instrument, const platform::SignalWatch& signals,
          const std::function<void()>& betweenLines) {
    std::unique_ptr<platform::Listener> listener;
    std::unique_ptr<platform::Listener> rpcListener;
    std::unique_ptr<platform::Listener> abortListener;  // VXI-11's abort channel, beside the core channel
    try {
        listener = std::make_unique<platform::Listener>(options.listen);
        if (options.vxi11 != "off") {
            rpcListener = std::make_unique<platform::Listener>(vxi11Address(options));
            const std::string name = rpcListener->name();
            abortListener = std::make_unique<platform::Listener>(name.substr(0, name.rfind(':')) + ":0");
        }
    } catch (const platform::ListenError& e) {
        std::fprintf(stderr, "pxctl: %s%s\n", listener ? "--vxi11: " : "", e.what());
        return e.status;
    }
    const auto limit = static_cast<std::size_t>(std::max(options.clients, 1));
    say("listening on " + listener->name() + "; VXI-11 on " + (rpcListener ? rpcListener->name() : "none (--vxi11 off)") +
        "; " + std::to_string(limit) + (limit == 1 ? " client" : " clients") + " at a time, no authentication");
    std::unique_ptr<platform::PortmapperEntry> portmapper;
    if (rpcListener) {
        portmapper = std::make_unique<platform::PortmapperEntry>(script::vxi11::kCoreProgram,
                                                                 script::vxi11::kCoreVersion, portOf(rpcListener->name()));
        say(portmapper->registered()
                ? "VXI-11 registered with the portmapper: VISA finds TCPIP::<host>::INSTR"
                : "VXI-11 not registered with the portmapper (" + portmapper->why() +
                      "): VXI-11 clients must be given port " + std::to_string(portOf(rpcListener->name())));
    }
    std::unique_ptr<platform::Announcement> announcement;
    if (options.announce) {
        // VXI-11 clients go through the portmapper where the channel is registered with it.
        std::vector<platform::DnsSdService> services{{"_scpi-raw._tcp", portOf(listener->name()), options.txt},
                                                     {"_lxi._tcp", portOf(listener->name()), options.txt}};
        if (rpcListener) {
            services.push_back({"_vxi-11._tcp",
                                portmapper->registered() ? std::uint16_t{111} : portOf(rpcListener->name()), options.txt});
        }
        std::string host, port;
        platform::splitListenAddress(options.listen, host, port);
        announcement = std::make_unique<platform::Announcement>(options.name, host, std::move(services));
        say(announcement->outcome(std::chrono::seconds(5)));
    }
    script::vxi11::Core core(instrument, abortListener ? portOf(abortListener->name()) : std::uint16_t{0});

    std::list<Client> clients;
    std::list<RpcClient> rpcClients;
    int nextRpcClient = 1;
    std::vector<platform::Listener*> listeners{listener.get()};
    if (rpcListener) listeners.push_back(rpcListener.get());
    if (abortListener) listeners.push_back(abortListener.get());
    std::vector<platform::Connection*> polled;
    Clock::time_point resting = Clock::time_point::min();
    std::uint64_t releases = core.releases();
    while (signals.pending() == 0) {
        const auto now = Clock::now();
        for (platform::Listener* l : listeners) l->listening = now >= resting;
        auto deadline = now >= resting ? Clock::time_point::max() : resting;
        bool ready = false;  // a client has lines it can run now
        polled.clear();
        for (Client& client : clients) {
            platform::Connection& c = client.connection();
            c.wantRead = client.wantsInput();
            c.wantWrite = client.waiting();
            polled.push_back(&c);
            deadline = std::min(deadline, client.deadline(options.idleTimeout));
            ready = ready || client.hasLines();
        }
        for (RpcClient& client : rpcClients) {
            platform::Connection& c = client.connection();
            c.wantRead = client.wantsInput();
            c.wantWrite = client.waiting();
            polled.push_back(&c);
            deadline = std::min(deadline, client.deadline(options.idleTimeout));
        }
        // A lock released since the calls waiting for it were last tried.
        ready = ready || releases != core.releases();
        int timeout = -1;
        if (ready) {
            timeout = 0;
        } else if (deadline != Clock::time_point::max()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            timeout = static_cast<int>(std::clamp<long long>(wait, 0, 60'000));
        }
        if (!platform::wait(listeners, signals, polled, timeout)) {
            say("waiting for clients failed");
            break;
        }
        if (signals.pending() != 0) break;
        // Clients first: one that hung up frees its place before the next is taken.
        for (Client& client : clients) {
            if (client.connection().writable) client.flush();  // may close it
            if (client.open() && client.wantsInput() && client.connection().readable) client.receive();
        }
        for (RpcClient& client : rpcClients) {
            if (client.connection().writable) client.flush(core);
            if (client.open() && client.wantsInput() && client.connection().readable) client.receive(core);
        }
        for (Client& client : clients) {
            if (client.hasLines()) client.runLines(instrument, signals, betweenLines);
            if (signals.pending() != 0) break;
        }
        releases = core.releases();
        for (RpcClient& client : rpcClients) {
            if (signals.pending() != 0) break;
            client.serveCalls(core, signals, betweenLines);
        }
        const auto later = Clock::now();
        for (Client& client : clients) client.check(later, options.idleTimeout);
        for (RpcClient& client : rpcClients) client.check(core, later, options.idleTimeout);
        clients.remove_if([](const Client& client) { return !client.open(); });
        rpcClients.remove_if([](const RpcClient& client) { return !client.open(); });
        for (platform::Listener* l : listeners) {
            while (l->ready && signals.pending() == 0) {
                auto accepted = l->accept();
                if (!accepted.closedAtOnce.empty()) {
                    say("a client was closed at once: " + accepted.closedAtOnce);
                    continue;
                }
                if (!accepted.failed.empty()) {
                    say("cannot accept a client: " + accepted.failed + "; trying again in 1 s");
                    resting = Clock::now() + kAcceptPause;
                    break;
                }
                if (accepted.connection == nullptr) break;
                // A VISA session holds a core and an abort connection: each channel counts its own.
                const bool abort = l == abortListener.get();
                const auto aborts = static_cast<std::size_t>(
                    std::count_if(rpcClients.begin(), rpcClients.end(), [](const RpcClient& c) { return c.abortChannel(); }));
                if ((abort ? aborts : clients.size() + rpcClients.size() - aborts) >= limit) {
                    say("client " + accepted.connection->peer() + " closed at once: " + std::to_string(limit) +
                        (limit == 1 ? " client is" : " clients are") + " served already (--clients)");
                    continue;
                }
                if (l == listener.get()) {
                    clients.emplace_back(std::move(accepted.connection));
                    say("client " + clients.back().name() + " connected");
                } else {
                    rpcClients.emplace_back(std::move(accepted.connection), nextRpcClient++,
                                            abort ? script::vxi11::Core::Channel::Abort
                                                  : script::vxi11::Core::Channel::Core);
                    say(std::string(abort ? "VXI-11 abort channel client " : "VXI-11 client ") +
                        rpcClients.back().name() + " connected");
                }
            }
        }
    }
    for (Client& client : clients) {
        client.flush();
        client.close("closed: the server stops");
    }
    for (RpcClient& client : rpcClients) {
        client.flush(core);
        client.close(core, "closed: the server stops");
    }
    clients.clear();
    rpcClients.clear();
    if (signals.pending() != 0) {
        say("stopped by " + platform::SignalWatch::name(signals.pending()) + " after " +
            std::to_string(instrument.commandsRun()) + " commands");
    }
    return 0;
}

}  // namespace frontend
