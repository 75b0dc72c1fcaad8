// pxctl: the programs' handlers from the command line, for scripts and test
// benches. The same program objects, port strings and backends as the windows,
// without a display.
#include "apps/actions.h"
#include "apps/command_line.h"
#include "apps/signals.h"
#include "commands/descriptor.h"
#include "ports/factory.h"
#include "ports/options.h"
#include "ports/trace_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#ifndef PX_VERSION
#define PX_VERSION "0"
#endif

namespace {

constexpr const char* kName = "pxctl";

std::string help() {
    const std::string keys = commands::programKeys("|", "|");
    std::string programs;
    for (const commands::Descriptor* d : commands::programs()) {
        programs += "                 " + std::string(d->key) + ": " + std::string(d->summary) + "\n";
    }
    return "Usage: pxctl [--program " + keys + "] [--port PORT] [--trace FILE] [--json] [--check-ack] ACTION...\n" +
           "       pxctl [--program " + keys + "] [--port PORT] [--trace FILE] [--json] [--check-ack] -\n" +
           "             (actions from standard input, one line at a time)\n\n" +
           "Runs the window's operator actions in order on one program, as the same clicks would.\n\n" +
           "  --program " + keys + "  which program's handlers run (default " + std::string(apps::CommandLine{}.program) + ")\n" +
           programs +
           "  --port PORT    where the bus is (default " + ports::defaultPort() + ")\n" +
           "  --trace FILE   record the bus in the format FILE's extension names:\n" + apps::traceHelp() +
           "  --json         one JSON object per action: action, read, frameWord, displays\n" +
           "  --check-ack    check that the device acknowledges: its acknowledge slots are\n" +
           "                 released and sampled, and a missing answer fails the action (off:\n" +
           "                 the frames as the programs always wrote them; an I2C adapter checks\n" +
           "                 anyway)\n" +
           "  --help, --version\n\n" +
           "Actions:\n" + apps::actionHelp() + "\n" +
           "Numbers are decimal, or hexadecimal after 0x (code1=0xc8); a leading zero changes\n" +
           "nothing (set 1 010 is code ten). Every action that reads back prints the byte read,\n" +
           "one number per line.\n" +
           "Exit status: 0 all ran; 1 the port failed (nothing after it runs) or the output could\n" +
           "not be written; 2 a usage error; 128 + N stopped by signal N (SIGINT, SIGTERM, SIGHUP)\n" +
           "after the action under way had finished.\n\n" +
           "Examples:\n" +
           "  pxctl --port sim set 1 200 get\n" +
           "  for c in $(seq 0 16 255); do pxctl --port ppdev set 1 $c; done\n" +
           "  printf 'set 2 10\\nread\\n' | pxctl --port ppdev:dev=/dev/parport1 -\n\n" +
           "Ports:\n" + apps::portHelp();
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kName, message.c_str());
    return 2;
}

void reportNotices(ports::ProgramPort& port) {
    while (auto notice = port.takeNotice()) std::fprintf(stderr, "%s: warning: %s\n", kName, notice->c_str());
}

// What is printed is part of the result: a write that failed, or a final flush
// that fails, is an error. (A reader that went away ends pxctl by SIGPIPE, as
// it does any Unix tool, never with status 0.)
int outputFailed(int error) {
    std::fprintf(stderr, "%s: standard output: %s\n", kName, std::strerror(error));
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

int runPxctl(int argc, char** argv) {
    apps::CommandLine line;
    const commands::Descriptor* descriptor = nullptr;
    std::vector<apps::Action> actions;
    ports::ProgramPort port;
    try {
        line = apps::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), apps::Front::Pxctl);
        if (line.help) {
            std::fputs(help().c_str(), stdout);
            return finish(0);
        }
        if (line.version) {
            std::printf("%s %s\n", kName, PX_VERSION);
            return finish(0);
        }
        descriptor = commands::findProgram(line.program);
        if (descriptor == nullptr) {
            throw apps::UsageError("--program " + ports::printable(line.program) + " is not known; use " +
                                   commands::programKeys(", ", " or "));
        }
        if (line.json && line.trace == "-") {
            throw apps::UsageError("--json and --trace - both write to standard output; give the trace a file");
        }
        if (line.actions.empty()) throw apps::UsageError("no action given; see --help");
        const bool stdinMode = line.actions.size() == 1 && line.actions[0] == "-";
        if (!stdinMode) actions = apps::parseActions(line.actions, *descriptor);
        port = ports::openProgramPort(line.port, line.trace);
    } catch (const apps::UsageError& e) {
        return usageError(e.what());
    } catch (const ports::ConfigError& e) {
        return usageError(e.what());
    }

    // From here a signal is noted and acted on between actions.
    const apps::SignalWatch signals;
    ports::TracePort* trace = port.trace;
    auto program = descriptor->make(*port.port);
    apps::Runner runner(*program, std::cout, std::cerr, line.json);
    if (trace != nullptr) runner.setActionListener([trace](const std::string& action) { trace->setAction(action); });
    if (port.details) runner.setPortDetails(port.details);
    if (port.backend != nullptr && port.backend->carriesTransactions) {
        runner.setKernelRecovers(port.label);  // and it checks every acknowledge: --check-ack changes nothing
    } else {
        program->setCheckAck(line.checkAck);
    }
    int status = 0;
    auto run = [&](const apps::Action& action) {
        if (signals.pending() != 0) return false;
        const bool ok = runner.run(action);
        reportNotices(port);
        if (!ok) status = runner.outputError() != 0 ? outputFailed(runner.outputError()) : 1;
        return ok;
    };
    std::string total;
    if (actions.empty()) {
        // One action per line, the port held between lines, so that a script can
        // drive a long session through a pipe. A bad line stops there.
        apps::LineReader reader(signals);
        std::string text;
        while (status == 0 && reader.next(text)) {
            std::vector<apps::Action> parsed;
            try {
                parsed = apps::parseActions(apps::splitWords(text), *descriptor);
            } catch (const apps::UsageError& e) {
                status = usageError(e.what());
                break;
            }
            for (const auto& action : parsed) {
                if (!run(action)) break;
            }
        }
    } else {
        total = " of " + std::to_string(actions.size());
        for (const auto& action : actions) {
            if (!run(action)) break;
        }
    }
    const bool allRan = !actions.empty() && runner.ran() == actions.size();
    if (status == 0 && signals.pending() != 0 && !allRan) {
        std::fprintf(stderr, "%s: interrupted by %s after action %zu%s\n", kName,
                     apps::SignalWatch::name(signals.pending()).c_str(), runner.ran(), total.c_str());
        status = 128 + signals.pending();
    }
    if (trace != nullptr) trace->close();
    reportNotices(port);
    return finish(status);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return runPxctl(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: internal error: %s\n", kName, e.what());
        return 1;
    }
}
