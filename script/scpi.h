// The program as a SCPI instrument (SCPI-1999, IEEE 488.2): one line of input
// in, at most one line of answers out. No sockets here: pxctl serve carries
// the lines, the tests and the fuzzer call it directly.
//
// The tree, in the way a power supply's reads (lower case may be left out,
// [brackets] are optional, <n> a numeric suffix):
//   [SOURce:]WIPer<1|2>[:CODE] <0..255|MINimum|MAXimum|DEFault>   set CH N
//   [SOURce:]WIPer<1|2>[:CODE]? [MINimum|MAXimum|DEFault]        the bar's code
//   [SOURce:]CHANnel <1|2> / CHANnel?                            ch1, ch2
//   [SOURce:]PRESet ZERO|MID|FULL                                zero, mid, full
//   PANel:BIT<0..44> <0|1> / PANel:BIT<k>?                       bit:K=V
//   PANel:RUN / PANel:WORD? / PANel:DATA?                        run; frame word; data byte
//   READ?        the Read button: the byte read back
//   MEASure?     the read-back alone (get)
//   FETCh?       the byte the last read-back read, without reading
//   SHUTdown     /SHDN (program b)
//   BUS:RECover  free a bus held low;  BUS:CHECk[:STATe] ON|OFF / ?
//   SYSTem:ERRor[:NEXT]?  SYSTem:ERRor:COUNt?  SYSTem:VERSion?
//   *IDN? *RST *CLS *ESE *ESE? *ESR? *OPC *OPC? *SRE *SRE? *STB? *TST? *WAI
#pragma once

#include "commands/descriptor.h"
#include "script/executor.h"

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

class ScpiInstrument {
public:
    static constexpr std::size_t kMaxLine = 4096;   // longer lines are dropped: -363
    static constexpr std::size_t kErrorQueue = 16;  // the 16th error becomes -350

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

    std::size_t errorCount() const { return errors_.size(); }
    std::size_t commandsRun() const { return commandsRun_; }

    // The parser's own: a node of the command tree, one command of a line.
    struct Node;
    struct Unit;

private:

    void error(int code, std::string_view info = {});
    std::optional<std::string> unit(Unit& unit);
    std::optional<std::string> common(Unit& unit);
    std::optional<std::string> command(const Node& node, int suffix, Unit& unit);
    void reset();
    Result run(const std::string& words);
    std::uint8_t statusByte() const;

    const commands::Descriptor& descriptor_;
    bus::Port& port_;
    Options options_;
    std::function<void(Executor&)> setUp_;
    std::unique_ptr<commands::Program> program_;
    std::unique_ptr<Executor> executor_;
    bool checkAck_ = false;

    std::deque<std::pair<int, std::string>> errors_;
    std::uint8_t esr_ = 0x80;  // power on
    std::uint8_t ese_ = 0;
    std::uint8_t sre_ = 0;
    std::size_t commandsRun_ = 0;
    std::vector<const Node*> path_;  // where a header after ';' continues
};

// SCPI's text for a standard error number: -113 "Undefined header".
std::string_view scpiErrorText(int code);

// Every error the instrument queues, with its text, in the standard's order.
struct ScpiError {
    int code;
    std::string_view text;
};
std::span<const ScpiError> scpiErrors();

}  // namespace script
