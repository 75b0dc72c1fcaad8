// pxctl: the programs' handlers from the command line, for scripts and test
// benches. The same program objects, port strings and backends as the windows,
// without a display.
#include "script/actions.h"
#include "script/json.h"
#include "script/runner.h"
#include "script/session.h"
#include "script/scpi.h"
#include "frontend/command_line.h"
#include "frontend/detect.h"
#include "frontend/manual.h"
#include "frontend/serve.h"
#include "platform/line_editor.h"
#include "frontend/settings.h"
#include "platform/signals.h"
#include "commands/descriptor.h"
#include "ports/factory.h"
#include "ports/options.h"
#include "ports/trace_port.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <ostream>
#include <memory>
#include <optional>
#include <string>

#ifndef PX_VERSION
#define PX_VERSION "0"
#endif

namespace {

constexpr const char* kName = "pxctl";

int usageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kName, ports::displayable(message).c_str());
    return 2;
}

// With --json, what is refused before anything runs is an object on standard
// output too, so that a reader of the stream learns why it is empty.
int refusedAtStart(bool json, const std::string& message) {
    if (json) std::printf("%s\n", script::jsonBadLine(0, ports::displayable(message)).c_str());
    return usageError(message);
}

void reportNotices(ports::ProgramPort& port) {
    while (auto notice = port.takeNotice()) {
        std::fprintf(stderr, "%s: warning: %s\n", kName, ports::displayable(*notice).c_str());
    }
}

// What is printed is part of the result: a write that failed, or a final flush
// that fails, is an error, status 1. A reader that went away (EPIPE) is told
// nothing, since nobody reads on; the status says it.
int outputFailed(int error) {
    if (error != EPIPE) std::fprintf(stderr, "%s: standard output: %s\n", kName, std::strerror(error));
    return 1;
}

int finish(int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno != 0 ? errno : EIO;
        return status == 0 ? outputFailed(error) : status;
    }
    return status;
}

// Actions from standard input, any number a line, the port held between lines,
// so that a script can drive a long session through a pipe. From a pipe the
// first bad line ends the session (status 2), so that a script fails fast,
// unless keepGoing; at a terminal it is reported and the session goes on, with
// a prompt. Returns 2 if a bad line ended it, or with keepGoing if any line was
// bad; 0 otherwise. run and refused say why they failed and set the status.
int session(const platform::SignalWatch& signals, const commands::Descriptor& descriptor, script::Runner& runner,
            const std::function<bool(const script::Action&)>& run,
            const std::function<bool(std::size_t, const std::string&)>& refused, std::ostream& out, bool json,
            bool keepGoing) {
    const bool terminal = platform::standardInputIsTerminal();
    // At a terminal, a prompt, and the line edited where the system offers it.
    const auto editor = platform::openLineEditor(signals, "pxctl");
    platform::LineReader reader(signals);
    auto nextLine = [&](std::string& line) {
        if (editor) return editor->next("pxctl> ", line);
        if (terminal) {
            std::fputs("pxctl> ", stderr);
            std::fflush(stderr);
        }
        return reader.next(line);
    };
    std::string text;
    std::size_t number = 0;
    bool anyBad = false;
    while (nextLine(text)) {
        runner.setWhere("line " + std::to_string(++number) + ": ");
        const std::vector<std::string> words = script::splitWords(text);
        if (words.size() == 1 && (words[0] == "quit" || words[0] == "exit")) break;
        if (!words.empty() && words[0] == "help" && words.size() <= 2) {
            const std::string help = words.size() == 1 ? frontend::sessionHelp() : frontend::sessionHelp(words[1]);
            if (help.empty()) {
                anyBad = true;
                if (!refused(number, "help: no action is called '" + ports::printable(words[1]) +
                                         "'; help alone lists them")) {
                    return 0;
                }
                if (!terminal && !keepGoing) return 2;
                continue;
            }
            // Standard output carries JSON Lines alone.
            if (json) {
                std::fputs(help.c_str(), stderr);
            } else {
                out << help << std::flush;
            }
            continue;
        }
        std::vector<script::Action> parsed;
        try {
            if (reader.tooLong()) {
                throw script::UsageError("longer than " + std::to_string(platform::LineReader::kMaxLine) +
                                         " bytes; a line holds at most that");
            }
            parsed = script::parseActions(words, descriptor);
        } catch (const script::UsageError& e) {
            anyBad = true;
            if (!refused(number, ports::displayable(e.what()))) return 0;
            if (!terminal && !keepGoing) return 2;
            continue;
        }
        for (const auto& action : parsed) {
            if (!run(action)) return 0;
        }
    }
    if (terminal && signals.pending() == 0) std::fputs("\n", stderr);  // past the last prompt
    return anyBad && keepGoing ? 2 : 0;
}

// pxctl serve: the program as a SCPI instrument on a TCP socket, the port (and
// its lock) held while it runs.
int serveScpi(const frontend::CommandLine& line, script::Session& session, const platform::SignalWatch& signals) {
    ports::ProgramPort& port = session.port;
    ports::TracePort* trace = port.trace;
    script::ScpiInstrument::Options options{port.label, PX_VERSION, line.checkAck, port.carriesTransactions(),
                                            line.address, [&signals] { return signals.pending() != 0; }};
    script::ScpiInstrument instrument(*session.descriptor, *port.port, std::move(options),
                                      [&session](script::Executor& executor) { session.attach(executor); });
    frontend::ServeOptions serving;
    if (!line.listen.empty()) serving.listen = line.listen;
    serving.vxi11 = line.vxi11;
    serving.announce = !line.noAnnounce;
    // LXI's TXT keys; the instance's name tells the program and its port.
    serving.name = "px77xx " + std::string(session.descriptor->caption) + " on " + port.label;
    serving.txt = {"txtvers=1", "Manufacturer=px77xx", "Model=" + std::string(session.descriptor->caption),
                   "FirmwareVersion=" PX_VERSION};
    if (line.clients) serving.clients = *line.clients;
    if (line.idleTimeout) serving.idleTimeout = std::chrono::seconds(*line.idleTimeout);
    const int status = frontend::serve(serving, instrument, signals, [&port] { reportNotices(port); });
    if (trace != nullptr) trace->close();
    reportNotices(port);
    return status;
}

int runPxctl(int argc, char** argv) {
    frontend::CommandLine line;
    bool parsed = false;  // the command line was read: --json is known
    bool serving = false;
    const commands::Descriptor* descriptor = nullptr;
    std::vector<script::Action> actions;
    script::Session opened;
    try {
        line = frontend::parseCommandLine(platform::commandLineArguments(argc, argv), frontend::Front::Pxctl);
        parsed = true;
        if (line.help) {
            errno = 0;
            if (std::fputs(frontend::helpText(frontend::pxctlManual()).c_str(), stdout) == EOF) {
                return outputFailed(errno != 0 ? errno : EIO);
            }
            return finish(0);
        }
        if (line.version) {
            std::printf("%s %s\n", kName, PX_VERSION);
            return finish(0);
        }
        descriptor = commands::findProgram(line.program);
        if (descriptor == nullptr) {
            throw frontend::UsageError("--program " + ports::printable(line.program) + " is not known; use " +
                                   commands::programKeys(", ", " or "));
        }
        if (line.json && line.trace == "-") {
            throw frontend::UsageError("--json and --trace - both write to standard output; give the trace a file");
        }
        if (line.actions.empty()) throw frontend::UsageError("no action given; see --help");
        if (line.actions[0] == "config") {
            if (line.json || !line.trace.empty() || line.probe || line.scan || line.keepGoing || !line.listen.empty()) {
                throw frontend::UsageError("config takes --port, --address and --check-ack, to show what they override");
            }
            const std::string text =
                frontend::configure(std::vector<std::string>(line.actions.begin() + 1, line.actions.end()), line);
            std::fputs(text.c_str(), stdout);
            return finish(0);
        }
        frontend::applySettings(line, frontend::readUserSettings());
        if (!line.notice.empty()) std::fprintf(stderr, "pxctl: %s\n", ports::displayable(line.notice).c_str());
        if (line.actions[0] == "detect") {
            const std::vector<std::string> named(line.actions.begin() + 1, line.actions.end());
            if (line.scan) {
                if (line.probe || named.size() != 1) {
                    throw frontend::UsageError("--scan takes one port, after detect, and not --probe (pxctl detect "
                                               "--scan i2c:bus=1)");
                }
                if (line.addressGiven) {
                    throw frontend::UsageError("--scan asks every address; --address does not apply");
                }
                std::fprintf(stderr, "pxctl: --scan sends a read-back to every address 0x08..0x77 on %s; another "
                             "device on this bus may take it for a command, as i2cdetect warns\n",
                             ports::displayable(named[0]).c_str());
                return finish(frontend::scanPort(named[0], *descriptor, line.json));
            }
            if (line.probe && named.empty()) {
                throw frontend::UsageError("--probe needs the ports to probe, after detect: it touches no bus it is not "
                                       "named (pxctl detect --probe i2c:bus=1)");
            }
            if (!line.probe && !named.empty()) {
                throw frontend::UsageError("detect takes no words but, with --probe or --scan, the ports to ask");
            }
            if (!line.trace.empty() || line.keepGoing || !line.listen.empty() || !line.vxi11.empty() || line.clients ||
                line.idleTimeout || line.noAnnounce) {
                throw frontend::UsageError("detect takes --probe, --json, --address and --program; not --trace, "
                                       "--keep-going or --listen");
            }
            if (!line.probe) return finish(frontend::listPorts(line.json));
            return finish(frontend::probePorts(named, *descriptor, line.address, line.json));
        }
        if (line.probe || line.scan) throw frontend::UsageError("--probe and --scan are for pxctl detect");
        serving = line.actions.size() == 1 && line.actions[0] == "serve";
        if ((!line.listen.empty() || !line.vxi11.empty() || line.clients || line.idleTimeout || line.noAnnounce) &&
            !serving) {
            throw frontend::UsageError("--listen, --vxi11, --no-announce, --clients and --idle-timeout are for pxctl serve");
        }
        if (serving && line.json) throw frontend::UsageError("--json does not apply to serve: it answers in SCPI");
        if (line.keepGoing && !(line.actions.size() == 1 && line.actions[0] == "-")) {
            throw frontend::UsageError("--keep-going is for actions read from standard input (-)");
        }
        const bool stdinMode = line.actions.size() == 1 && line.actions[0] == "-";
        if (!stdinMode && !serving) actions = script::parseActions(line.actions, *descriptor);
        opened = script::openSession(*descriptor, {line.port, line.trace, line.checkAck, line.address});
    } catch (const frontend::UsageError& e) {
        return refusedAtStart(parsed && line.json, e.what());
    } catch (const ports::ConfigError& e) {
        return refusedAtStart(parsed && line.json, frontend::withPortSource(e.what(), line));
    }

    // From here a signal is noted and acted on between actions.
    const platform::SignalWatch signals;
    if (serving) return serveScpi(line, opened, signals);
    platform::CheckedOutput output(1, signals);
    std::ostream out(&output);
    ports::ProgramPort& port = opened.port;
    ports::TracePort* trace = port.trace;
    script::Runner runner(*opened.program, out, std::cerr, line.json);
    runner.setAddress(frontend::addressNote(line.address));
    opened.attach(runner.executor());
    if (port.details) runner.setPortDetails(port.details);
    int status = 0;
    const std::function<bool(const script::Action&)> run = [&](const script::Action& action) {
        if (signals.pending() != 0) return false;
        const bool ok = runner.run(action);
        reportNotices(port);
        if (ok) return true;
        const int error = runner.outputError();
        // Output a signal cut off: the interruption is the news, said below.
        if (error == EINTR && signals.pending() != 0) return false;
        status = error != 0 ? outputFailed(error) : 1;
        return false;
    };
    const std::function<bool(std::size_t, const std::string&)> refused = [&](std::size_t number,
                                                                              const std::string& error) {
        if (runner.refused(number, error)) return true;
        status = outputFailed(runner.outputError());
        return false;
    };
    std::string total;
    if (actions.empty()) {
        const int bad = session(signals, *descriptor, runner, run, refused, out, line.json, line.keepGoing);
        if (bad != 0 && status == 0) status = bad;
    } else {
        total = " of " + std::to_string(actions.size());
        for (const auto& action : actions) {
            if (!run(action)) break;
        }
    }
    const bool allRan = !actions.empty() && runner.ran() == actions.size();
    if (status == 0 && signals.pending() != 0 && !allRan) {
        const std::string name = platform::SignalWatch::name(signals.pending());
        std::fprintf(stderr, "%s: interrupted by %s after action %zu%s\n", kName, name.c_str(), runner.ran(),
                     total.c_str());
        if (line.json) {
            // The last record says so, where the reader can still take it.
            const auto of = actions.empty() ? std::nullopt : std::optional<std::size_t>(actions.size());
            out << script::jsonInterrupted(name, runner.ran(), of) << '\n' << std::flush;
        }
        status = 128 + signals.pending();
    }
    if (trace != nullptr) trace->close();
    reportNotices(port);
    return finish(status);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away fails the next write (EPIPE), status 1, instead
    // of ending pxctl by SIGPIPE before its trace is closed.
    platform::prepareStandardStreams();
    try {
        return runPxctl(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: internal error: %s\n", kName, ports::displayable(e.what()).c_str());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "%s: internal error: an exception that is not a std::exception\n", kName);
        return 1;
    }
}
