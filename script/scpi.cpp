// The instrument's tree, as one table, and what each row does. Every command
// that reaches the port runs as the pxctl action it stands for, through the
// same executor, so the frames and traces are pxctl's.
#include "script/scpi.h"

#include "bus/text.h"
#include "controls/controls.h"
#include "script/scpi_parser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <utility>

namespace script {
namespace {

using Handler = ScpiCommand::Handler;
using scpi::Node;
using scpi::Unit;

constexpr std::string_view kNotANumber = "9.91E37";
constexpr int kDefaultCode = 128;  // "Mid Scale"

constexpr std::array kCommands{
    ScpiCommand{"[SOURce:]WIPer<1|2>[:CODE]", "N", true, true, Handler::WiperCode,
                "set the channel's code, 0..255, MIN, MAX or DEF: one frame (set CH N); WIPer<1|2>? the code the "
                "bar holds"},
    ScpiCommand{"[SOURce:]CHANnel", "1|2", true, true, Handler::Channel,
                "select the channel (ch1, ch2); CHANnel? the channel shown, 0 before any"},
    ScpiCommand{"[SOURce:]PRESet", "ZERO|MID|FULL", true, false, Handler::Preset,
                "the presets on the selected channel (zero, mid, full)"},
    ScpiCommand{"PANel:BIT<0..44>", "0|1", true, true, Handler::Bit,
                "a bit panel position (bit:K=V); PANel:BIT<k>? its value"},
    ScpiCommand{"PANel:RUN", "", true, false, Handler::Run,
                "send the bit panel's frame (run); PANel:WORD? the frame word, PANel:DATA? its data byte"},
    ScpiCommand{"PANel:WORD", "", false, true, Handler::Word, ""},
    ScpiCommand{"PANel:DATA", "", false, true, Handler::Data, ""},
    ScpiCommand{"READ", "", false, true, Handler::Read, "the Read button: the byte read back (read)"},
    ScpiCommand{"MEASure", "", false, true, Handler::Measure, "the read-back alone (get)"},
    ScpiCommand{"FETCh", "", false, true, Handler::Fetch, "the byte the last read-back read, without reading"},
    ScpiCommand{"SHUTdown", "", true, false, Handler::Shutdown, "/SHDN (program b)"},
    ScpiCommand{"BUS:RECover", "", true, false, Handler::Recover, "free a bus a device holds low (recover)"},
    ScpiCommand{"BUS:CHECk[:STATe]", "ON|OFF", true, true, Handler::Check,
                "the acknowledge check (--check-ack); BUS:CHECk? 1 or 0"},
    ScpiCommand{"SYSTem:ERRor[:NEXT]", "", false, true, Handler::ErrorNext,
                "the oldest error, 0,\"No error\" when none; SYSTem:ERRor:COUNt? how many"},
    ScpiCommand{"SYSTem:ERRor:COUNt", "", false, true, Handler::ErrorCount, ""},
    ScpiCommand{"SYSTem:VERSion", "", false, true, Handler::Version, "1999.0"},
};

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kCommon{{
    {"*IDN?", "px77xx, the program, the port and the version"},
    {"*RST", "the program's start values; nothing is written to the port"},
    {"*CLS, *ESE, *ESE?, *ESR?, *SRE, *SRE?, *STB?",
     "the status registers as IEEE 488.2 defines them: event status (operation complete, query, device, execution "
     "and command errors, power on) and status byte (error queue, event summary)"},
    {"*OPC, *OPC?, *WAI", "every command is complete when the next is read"},
    {"*TST?", "0: no self-test touches the bus unasked"},
}};

// The tree the parser walks, built once from the table; each node's handler is its row.
const Node& tree() {
    static const Node root = [] {
        Node built;
        for (std::size_t row = 0; row < kCommands.size(); ++row) {
            const ScpiCommand& c = kCommands[row];
            scpi::addHeader(built, c.header, static_cast<int>(row), c.command, c.query);
        }
        return built;
    }();
    return root;
}

// A display by its plain name.
std::optional<int> shown(const commands::Program& program, std::string_view name) {
    for (const Display& display : kDisplays) {
        if (display.name == name) return displayValue(program, display);
    }
    return std::nullopt;
}

}  // namespace

std::span<const ScpiCommand> scpiCommands() { return kCommands; }

std::span<const std::pair<std::string_view, std::string_view>> scpiCommonCommands() {
    return kCommon;
}

ScpiInstrument::ScpiInstrument(const commands::Descriptor& descriptor, bus::Port& port, Options options,
                               std::function<void(Executor&)> setUp)
    : descriptor_(descriptor), port_(port), options_(std::move(options)), setUp_(std::move(setUp)),
      checkAck_(options_.checkAck && !options_.kernelChecks) {
    reset();
}

ScpiInstrument::~ScpiInstrument() = default;

void ScpiInstrument::reset() {
    executor_.reset();
    program_ = descriptor_.make(port_);
    program_->setAddress(options_.address);
    if (descriptor_.load != nullptr) descriptor_.load(*program_);
    program_->setCheckAck(checkAck_);
    executor_ = std::make_unique<Executor>(*program_);
    if (setUp_) setUp_(*executor_);
}

namespace {

// What a dropped line answers: one not-a-number per query.
std::optional<std::string> unanswered(std::size_t queries) {
    if (queries == 0) return std::nullopt;
    std::string answers(kNotANumber);
    for (std::size_t i = 1; i < queries; ++i) answers.append(";").append(kNotANumber);
    return answers;
}

std::size_t queriesIn(std::string_view text) {
    ScpiInstrument::QueryCounter counter;
    for (char c : text) counter.feed(c);
    return counter.count();
}

}  // namespace

void ScpiInstrument::QueryCounter::feed(char c) {
    const bool separator = c == ';';
    if (separator || c == ' ' || c == '\t') {
        // A header ends here: counted once, if it asked.
        count_ = count();
        phase_ = separator ? Phase::Before : phase_ == Phase::Header ? Phase::After : phase_;
        last_ = 0;
    } else if (phase_ != Phase::After) {
        phase_ = Phase::Header;
        last_ = c;
    }
}

std::size_t ScpiInstrument::QueryCounter::count() const {
    return count_ + (phase_ == Phase::Header && last_ == '?' ? 1 : 0);
}

std::optional<std::string> ScpiInstrument::overrun(std::size_t queries) {
    error(-363, "a line holds at most " + std::to_string(kMaxLine) + " bytes; the line was dropped");
    return unanswered(queries);
}

Result ScpiInstrument::run(const std::string& words) {
    const auto actions = parseActions(splitWords(words), descriptor_);
    Result result = executor_->execute(actions.front());
    if (!result.ok) error(result.cause == Result::Cause::NoAnswer ? -241 : -240, result.error);
    return result;
}

std::optional<std::string> ScpiInstrument::line(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte >= 0x7F) {
            error(-101, "byte 0x" + std::string(1, "0123456789abcdef"[byte >> 4]) + "0123456789abcdef"[byte & 15] +
                            " in a line; the line was dropped");
            // Bytes that are not text may hide where a header ends: a '?' anywhere is answered.
            const bool asked = text.find('?') != std::string_view::npos;
            return unanswered(std::max<std::size_t>(queriesIn(text), asked ? 1 : 0));
        }
    }
    bool open = false;
    const auto units = scpi::split(text, ';', &open);
    if (open) {
        error(-102, "a string is not closed; the line was dropped");
        return unanswered(queriesIn(text));
    }
    path_.clear();
    std::optional<std::string> answers;
    bool first = true;
    for (std::string_view raw : units) {
        if (!std::exchange(first, false) && options_.stopRequested && options_.stopRequested()) break;
        raw = scpi::trim(raw);
        if (raw.empty()) continue;
        Unit u;
        const std::size_t space = raw.find_first_of(" \t");
        std::string_view header = raw.substr(0, space);
        const std::string_view rest = space == std::string_view::npos ? std::string_view{} : scpi::trim(raw.substr(space));
        if (!header.empty() && header.back() == '?') {
            u.query = true;
            header.remove_suffix(1);
        }
        u.header = std::string(header);
        bool syntax = true;
        if (!rest.empty()) {
            for (std::string_view p : scpi::split(rest, ',')) {
                p = scpi::trim(p);
                if (p.empty()) syntax = false;
                u.params.emplace_back(p);
            }
        }
        std::optional<std::string> answer;
        if (!syntax) {
            error(-102, raw);
        } else {
            answer = unit(u);
        }
        ++commandsRun_;
        if (u.query) {
            const std::string part = answer.value_or(std::string(kNotANumber));
            answers = answers ? *answers + ";" + part : part;
        }
    }
    return answers;
}

std::optional<std::string> ScpiInstrument::unit(Unit& u) {
    if (!u.header.empty() && u.header.front() == '*') return common(u);
    std::string_view header = u.header;
    const bool absolute = !header.empty() && header.front() == ':';
    if (absolute) header.remove_prefix(1);
    std::vector<scpi::Mnemonic> mnemonics;
    for (std::string_view part : scpi::split(header, ':')) {
        scpi::Mnemonic m = scpi::splitMnemonic(part);
        if (!m.valid) {
            error(part.empty() ? -102 : -113, u.header);
            return std::nullopt;
        }
        mnemonics.push_back(std::move(m));
    }
    // After ';' a header goes on from where the last one's leaf hangs.
    const Node& start = absolute || path_.empty() ? tree() : *path_.back();
    scpi::Match match;
    bool found = scpi::walk(start, mnemonics, 0, match);
    std::vector<const Node*> base = absolute ? std::vector<const Node*>{} : path_;
    if (!found && &start != &tree()) {
        match = scpi::Match{};
        base.clear();
        found = scpi::walk(tree(), mnemonics, 0, match);
    }
    if (!found) {
        error(-113, u.header);
        return std::nullopt;
    }
    path_ = base;
    path_.insert(path_.end(), match.path.begin(), match.path.end() - 1);
    const Node& node = *match.path.back();
    if (match.suffixOutOfRange) {
        error(-114, u.header);
        return std::nullopt;
    }
    if ((u.query && !node.query) || (!u.query && !node.command)) {
        error(-113, u.header + (u.query ? "? is not a query" : " is a query only; add ?"));
        return std::nullopt;
    }
    return command(kCommands[static_cast<std::size_t>(node.handler)], match.suffix, u);
}

std::optional<std::string> ScpiInstrument::command(const ScpiCommand& row, int suffix, Unit& u) {
    const auto& c = program_->controls();
    const bool takesParameter = !u.query && !row.parameters.empty();
    const std::size_t most = u.query ? (row.handler == Handler::WiperCode ? 1 : 0) : (takesParameter ? 1 : 0);
    if (takesParameter && u.params.empty()) {
        error(-109, u.header);
        return std::nullopt;
    }
    if (u.params.size() > most) {
        error(-108, u.header);
        return std::nullopt;
    }
    // An integer parameter in min..max, MINimum, MAXimum or DEFault.
    auto integer = [&](int min, int max, int fallback) -> std::optional<int> {
        const scpi::Number n = scpi::number(u.params.front());
        switch (n.kind) {
            case scpi::Number::Kind::Min: return min;
            case scpi::Number::Kind::Max: return max;
            case scpi::Number::Kind::Default: return fallback;
            case scpi::Number::Kind::NotNumeric: error(-104, u.params.front()); return std::nullopt;
            case scpi::Number::Kind::Value: break;
        }
        const double rounded = std::round(n.value);
        if (rounded < min || rounded > max) {
            error(-222, u.params.front() + " (" + std::to_string(min) + ".." + std::to_string(max) + ")");
            return std::nullopt;
        }
        return static_cast<int>(rounded);
    };
    auto byte = [](std::optional<int> value) { return value ? std::to_string(*value) : std::string(kNotANumber); };
    auto read = [&](const std::string& words) -> std::optional<std::string> {
        const Result result = run(words);
        if (!result.ok || !result.read) return std::nullopt;
        return std::to_string(*result.read);
    };
    switch (row.handler) {
        case Handler::WiperCode: {
            if (u.query) {
                if (u.params.empty()) return std::to_string((suffix == 2 ? c.vsbInputCode2 : c.vsbInputCode1).Value());
                const auto limit = integer(0, 255, kDefaultCode);
                return limit ? std::optional<std::string>(std::to_string(*limit)) : std::nullopt;
            }
            const auto code = integer(0, 255, kDefaultCode);
            if (code) run("set " + std::to_string(suffix) + " " + std::to_string(*code));
            return std::nullopt;
        }
        case Handler::Channel: {
            if (u.query) {
                return std::to_string(shown(*program_, "channel_written").value_or(0));
            }
            const auto channel = integer(1, 2, 1);
            if (channel) run(*channel == 2 ? "ch2" : "ch1");
            return std::nullopt;
        }
        case Handler::Preset: {
            const std::string word = scpi::upper(u.params.front());
            if (word != "ZERO" && word != "MID" && word != "FULL") {
                error(-224, u.params.front() + " (ZERO, MID or FULL)");
                return std::nullopt;
            }
            run(word == "ZERO" ? "zero" : word == "MID" ? "mid" : "full");
            return std::nullopt;
        }
        case Handler::Bit: {
            if (u.query) return std::to_string(c.vsbBit[static_cast<std::size_t>(suffix)].Value());
            const auto value = integer(0, 1, 0);
            if (value) run("bit:" + std::to_string(suffix) + "=" + std::to_string(*value));
            return std::nullopt;
        }
        case Handler::Run: run("run"); return std::nullopt;
        case Handler::Word: return std::to_string(program_->frameWord());
        case Handler::Data: return byte(shown(*program_, "data_written"));
        case Handler::Read: return read("read");
        case Handler::Measure: return read("get");
        case Handler::Fetch: return byte(shown(*program_, "byte_read"));
        case Handler::Shutdown:
            if (descriptor_.findWord("shdn") == nullptr) {
                error(-113, u.header + ": program " + std::string(descriptor_.key) + " has no /SHDN");
                return std::nullopt;
            }
            run("shdn");
            return std::nullopt;
        case Handler::Recover: run("recover"); return std::nullopt;
        case Handler::Check: {
            if (u.query) return checkAck_ ? "1" : "0";
            const std::string word = scpi::upper(u.params.front());
            bool on = false;
            if (word == "ON" || word == "OFF") {
                on = word == "ON";
            } else {
                const auto value = integer(0, 1, 0);
                if (!value) return std::nullopt;
                on = *value == 1;
            }
            if (on && options_.kernelChecks) {
                error(-221, options_.portLabel + ": the kernel checks every acknowledge itself");
                return std::nullopt;
            }
            checkAck_ = on;
            program_->setCheckAck(on);
            return std::nullopt;
        }
        case Handler::ErrorNext: return status_.nextError();
        case Handler::ErrorCount: return std::to_string(status_.errorCount());
        case Handler::Version: return "1999.0";
    }
    error(-113, u.header);
    return std::nullopt;
}

std::optional<std::string> ScpiInstrument::common(Unit& u) {
    const std::string name = scpi::upper(u.header) + (u.query ? "?" : "");
    const bool setter = name == "*ESE" || name == "*SRE";
    if (!setter && !u.params.empty()) {
        error(-108, u.header);
        return std::nullopt;
    }
    if (name == "*IDN?") {
        std::string port = options_.portLabel;
        std::replace(port.begin(), port.end(), ',', ' ');
        std::replace(port.begin(), port.end(), ';', ' ');
        return "px77xx," + std::string(descriptor_.caption) + "," + port + "," + options_.version;
    }
    if (name == "*RST") {
        checkAck_ = options_.checkAck && !options_.kernelChecks;
        reset();
        return std::nullopt;
    }
    // No self-test touches the bus unasked; the parser and registers answering is the test.
    if (name == "*TST?") return "0";
    if (auto answer = status_.common(name, u.params, u.header)) {
        if (answer->empty()) return std::nullopt;
        return answer;
    }
    error(-113, u.header + (u.query ? "?" : ""));
    return std::nullopt;
}

bool ScpiLines::feed(char c, ScpiInstrument& instrument, std::optional<std::string>& answer) {
    if (c == '\n') {
        // An empty line is a line too: the instrument answers nothing to it.
        if (!end(instrument, answer)) answer = instrument.line("");
        return true;
    }
    if (dropping_) {
        counter_.feed(c);
    } else if (line_.size() >= ScpiInstrument::kMaxLine) {
        dropping_ = true;
        for (char kept : line_) counter_.feed(kept);
        counter_.feed(c);
        line_.clear();
    } else {
        line_ += c;
    }
    return false;
}

bool ScpiLines::end(ScpiInstrument& instrument, std::optional<std::string>& answer) {
    if (dropping_) {
        answer = instrument.overrun(counter_.count());
        clear();
        return true;
    }
    if (line_.empty()) return false;
    if (line_.back() == '\r') line_.pop_back();
    answer = instrument.line(line_);
    line_.clear();
    return true;
}

void ScpiLines::clear() {
    line_.clear();
    dropping_ = false;
    counter_ = {};
}

}  // namespace script
