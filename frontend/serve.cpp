// The SCPI server: a few clients, each with its own input and answers, over
// the platform's listener. Their lines run one at a time, in one loop, so
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

#include "platform/listener.h"

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
            const char c = inbox_[used++];
            if (c != '\n') {
                if (dropping_) {
                    counter_.feed(c);
                } else if (line_.size() >= script::ScpiInstrument::kMaxLine) {
                    dropping_ = true;
                    for (char kept : line_) counter_.feed(kept);
                    counter_.feed(c);
                    line_.clear();
                } else {
                    line_ += c;
                }
                continue;
            }
            std::optional<std::string> answer;
            if (dropping_) {
                answer = instrument.overrun(counter_.count());
                dropping_ = false;
                counter_ = {};
            } else {
                if (!line_.empty() && line_.back() == '\r') line_.pop_back();
                answer = instrument.line(line_);
                line_.clear();
            }
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
            close(line_.empty() && !dropping_ ? "disconnected" : "disconnected mid-line; the part line was dropped");
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
    std::string line_;    // the line under way
    std::string output_;  // answers not yet sent
    bool dropping_ = false;  // the line under way is too long: counted, not kept
    script::ScpiInstrument::QueryCounter counter_;
    bool ended_ = false;  // the client sends no more
    Clock::time_point lastInput_;
    Clock::time_point lastProgress_;
};

}  // namespace

int serve(const ServeOptions& options, script::ScpiInstrument& instrument, const platform::SignalWatch& signals,
          const std::function<void()>& betweenLines) {
    std::unique_ptr<platform::Listener> listener;
    try {
        listener = std::make_unique<platform::Listener>(options.listen);
    } catch (const platform::ListenError& e) {
        std::fprintf(stderr, "pxctl: %s\n", e.what());
        return e.status;
    }
    const auto limit = static_cast<std::size_t>(std::max(options.clients, 1));
    say("listening on " + listener->name() + "; " + std::to_string(limit) + (limit == 1 ? " client" : " clients") +
        " at a time, no authentication");

    std::list<Client> clients;
    std::vector<platform::Connection*> polled;
    Clock::time_point resting = Clock::time_point::min();
    while (signals.pending() == 0) {
        const auto now = Clock::now();
        listener->listening = now >= resting;
        auto deadline = listener->listening ? Clock::time_point::max() : resting;
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
        int timeout = -1;
        if (ready) {
            timeout = 0;
        } else if (deadline != Clock::time_point::max()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            timeout = static_cast<int>(std::clamp<long long>(wait, 0, 60'000));
        }
        if (!platform::wait(listener.get(), signals, polled, timeout)) {
            say("waiting for clients failed");
            break;
        }
        if (signals.pending() != 0) break;
        // Clients first: one that hung up frees its place before the next is taken.
        for (Client& client : clients) {
            if (client.connection().writable) client.flush();  // may close it
            if (client.open() && client.wantsInput() && client.connection().readable) client.receive();
        }
        for (Client& client : clients) {
            if (client.hasLines()) client.runLines(instrument, signals, betweenLines);
            if (signals.pending() != 0) break;
        }
        const auto later = Clock::now();
        for (Client& client : clients) client.check(later, options.idleTimeout);
        clients.remove_if([](const Client& client) { return !client.open(); });
        if (signals.pending() != 0 || !listener->ready) continue;
        while (signals.pending() == 0) {
            auto accepted = listener->accept();
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
            if (clients.size() >= limit) {
                say("client " + accepted.connection->peer() + " closed at once: " + std::to_string(limit) +
                    (limit == 1 ? " client is" : " clients are") + " served already (--clients)");
                continue;
            }
            clients.emplace_back(std::move(accepted.connection));
            say("client " + clients.back().name() + " connected");
        }
    }
    for (Client& client : clients) {
        client.flush();
        client.close("closed: the server stops");
    }
    clients.clear();
    if (signals.pending() != 0) {
        say("stopped by " + platform::SignalWatch::name(signals.pending()) + " after " +
            std::to_string(instrument.commandsRun()) + " commands");
    }
    return 0;
}

}  // namespace frontend
