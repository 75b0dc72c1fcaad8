// The program as a SCPI instrument (SCPI-1999, IEEE 488.2): one line of input
// in, at most one line of answers out. No sockets here: pxctl serve carries
// the lines, the tests and the fuzzer call it directly. Its tree is one table
// (scpiCommands()), which the parser, the man page and --help read; the
// parsing is scpi_parser.h's and the status registers and error queue are
// scpi_status.h's.
#pragma once

#include "commands/descriptor.h"
#include "script/executor.h"
#include "script/scpi_status.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace script {

namespace scpi {
struct Node;
struct Unit;
}  // namespace scpi

// One row of the instrument's tree: the header as the standard writes it, the
// parameters of its set form, and what it does. The man page and --help list
// the rows; a row without help is told in the one before it.
struct ScpiCommand {
    enum class Handler : std::uint8_t {
        WiperCode, Channel, Preset, Bit, Run, Word, Data, Read, Measure, Fetch, Shutdown, Recover, Check,
        ErrorNext, ErrorCount, Version,
    };
    std::string_view header;      // "[SOURce:]WIPer<1|2>[:CODE]"
    std::string_view parameters;  // "N"; empty for a query only, or a command without any
    bool command;                 // takes the set form
    bool query;                   // takes the ? form
    Handler handler;
    std::string_view help;

    // As the man page writes it: "[SOURce:]WIPer<1|2>[:CODE] N", "READ?".
    std::string form() const {
        return std::string(header) + (!command ? "?" : parameters.empty() ? "" : " " + std::string(parameters));
    }
};
std::span<const ScpiCommand> scpiCommands();
// IEEE 488.2's common commands as the man page lists them.
std::span<const std::pair<std::string_view, std::string_view>> scpiCommonCommands();

class ScpiInstrument {
public:
    static constexpr std::size_t kMaxLine = 4096;   // longer lines are dropped: -363
    static constexpr std::size_t kErrorQueue = ScpiStatus::kErrorQueue;

    struct Options {
        std::string portLabel;    // "sim", "ppdev /dev/parport0"
        std::string version;      // *IDN?'s firmware field
        bool checkAck = false;    // the acknowledge check at start (BUS:CHECk)
        bool kernelChecks = false;  // an I2C adapter: the kernel checks and recovers, BUS:CHECk ON is refused
        std::uint8_t address = 0x2c;  // the device's 7-bit address (--address)
        // Asked between the commands of a line: true stops the line there, after
        // the frame under way (SIGTERM must not wait for a whole line).
        std::function<bool()> stopRequested = nullptr;
    };

    // setUp is told of every Executor made (at start and at *RST): the trace's
    // listener, an adapter that recovers itself.
    ScpiInstrument(const commands::Descriptor& descriptor, bus::Port& port, Options options,
                   std::function<void(Executor&)> setUp);
    ~ScpiInstrument();
    ScpiInstrument(const ScpiInstrument&) = delete;
    ScpiInstrument& operator=(const ScpiInstrument&) = delete;

    // One line without its terminator (LF or CRLF). The answers of its queries,
    // separated by ';', without the LF; nothing where it held no query. Every
    // query is answered, a failed one with 9.91E37 (SCPI's not-a-number), and
    // so is each query of a line that is dropped whole (a byte that is not
    // text, a string left open), so that a client never waits for an answer.
    std::optional<std::string> line(std::string_view text);

    // A line longer than kMaxLine was dropped: queues -363 and answers its
    // queries, counted as it passed (QueryCounter), with 9.91E37.
    std::optional<std::string> overrun(std::size_t queries);

    // Counts the queries of a line (headers ending in '?') as it passes, for a
    // line too long to keep; quotes are not looked at.
    class QueryCounter {
    public:
        void feed(char c);
        std::size_t count() const;  // the queries so far, the one under way included
    private:
        enum class Phase : std::uint8_t { Before, Header, After } phase_ = Phase::Before;
        char last_ = 0;
        std::size_t count_ = 0;
    };

    std::size_t errorCount() const { return status_.errorCount(); }
    std::size_t commandsRun() const { return commandsRun_; }
    // The status byte as *STB? reads it, with MAV (bit 4) where the client
    // asking has an answer waiting: a VXI-11 link's device_readstb.
    std::uint8_t statusByte(bool messageAvailable) const { return status_.statusByte(messageAvailable); }

private:
    void error(int code, std::string_view info = {}) { status_.error(code, info); }
    std::optional<std::string> unit(scpi::Unit& unit);
    std::optional<std::string> common(scpi::Unit& unit);
    std::optional<std::string> command(const ScpiCommand& row, int suffix, scpi::Unit& unit);
    void reset();
    Result run(const std::string& words);

    const commands::Descriptor& descriptor_;
    bus::Port& port_;
    Options options_;
    std::function<void(Executor&)> setUp_;
    std::unique_ptr<commands::Program> program_;
    std::unique_ptr<Executor> executor_;
    bool checkAck_ = false;

    ScpiStatus status_;
    std::size_t commandsRun_ = 0;
    std::vector<const scpi::Node*> path_;  // where a header after ';' continues
};

// A client's input as it arrives, cut into lines at LF (a CR before it
// dropped), each run as it ends; a line longer than the instrument takes is
// counted as it passes rather than kept, so memory stays bounded whatever is
// sent. Both of pxctl serve's channels read their clients so.
class ScpiLines {
public:
    // One byte; true where it ended a line, which ran, with its answers (if
    // any) in answer.
    bool feed(char c, ScpiInstrument& instrument, std::optional<std::string>& answer);
    // Ends the line under way as an LF would (a VXI-11 write with END); false
    // where no line was under way.
    bool end(ScpiInstrument& instrument, std::optional<std::string>& answer);
    bool midLine() const { return !line_.empty() || dropping_; }
    void clear();

private:
    std::string line_;
    bool dropping_ = false;  // the line under way is too long: counted, not kept
    ScpiInstrument::QueryCounter counter_;
};

}  // namespace script
