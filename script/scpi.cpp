// The SCPI parser, status registers and command tree. Every command that
// reaches the port runs as the pxctl action it stands for, through the same
// executor, so the frames and traces are pxctl's.
#include "script/scpi.h"

#include "bus/text.h"
#include "controls/controls.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

namespace script {
namespace {

constexpr std::string_view kNotANumber = "9.91E37";
constexpr int kDefaultCode = 128;  // "Mid Scale"

// A display by its plain name.
std::optional<int> shown(const commands::Program& program, std::string_view name) {
    for (const Display& display : kDisplays) {
        if (display.name == name) return displayValue(program, display);
    }
    return std::nullopt;
}

enum class Op : std::uint8_t {
    None, WiperCode, Channel, Preset, Bit, Run, Word, Data, Read, Measure, Fetch, Shutdown, Recover, Check,
    ErrorNext, ErrorCount, Version,
};

}  // namespace

struct ScpiInstrument::Node {
    std::string_view name;  // upper case: the short form
    Op op = Op::None;
    bool command = false;  // takes the set form
    bool query = false;    // takes the ? form
    bool optional = false;
    int suffixMin = -1;  // -1: takes no numeric suffix
    int suffixMax = -1;
    std::vector<Node> children;
};

struct ScpiInstrument::Unit {
    std::string header;               // as typed, without its '?'
    bool query = false;
    std::vector<std::string> params;  // trimmed
};

namespace {

using Node = ScpiInstrument::Node;

Node leaf(std::string_view name, Op op, bool command, bool query, std::vector<Node> children = {}) {
    return Node{name, op, command, query, false, -1, -1, std::move(children)};
}
Node optional(Node node) {
    node.optional = true;
    return node;
}
Node suffixed(Node node, int min, int max) {
    node.suffixMin = min;
    node.suffixMax = max;
    return node;
}

const Node& tree() {
    static const Node root{"", Op::None, false, false, false, -1, -1, {
        optional(leaf("SOURce", Op::None, false, false, {
            suffixed(leaf("WIPer", Op::WiperCode, true, true, {optional(leaf("CODE", Op::WiperCode, true, true))}), 1, 2),
            leaf("CHANnel", Op::Channel, true, true),
            leaf("PRESet", Op::Preset, true, false),
        })),
        leaf("PANel", Op::None, false, false, {
            suffixed(leaf("BIT", Op::Bit, true, true), 0, controls::kBitCount - 1),
            leaf("RUN", Op::Run, true, false),
            leaf("WORD", Op::Word, false, true),
            leaf("DATA", Op::Data, false, true),
        }),
        leaf("READ", Op::Read, false, true),
        leaf("MEASure", Op::Measure, false, true),
        leaf("FETCh", Op::Fetch, false, true),
        leaf("SHUTdown", Op::Shutdown, true, false),
        leaf("BUS", Op::None, false, false, {
            leaf("RECover", Op::Recover, true, false),
            leaf("CHECk", Op::Check, true, true, {optional(leaf("STATe", Op::Check, true, true))}),
        }),
        leaf("SYSTem", Op::None, false, false, {
            leaf("ERRor", Op::ErrorNext, false, true, {
                optional(leaf("NEXT", Op::ErrorNext, false, true)),
                leaf("COUNt", Op::ErrorCount, false, true),
            }),
            leaf("VERSion", Op::Version, false, true),
        }),
    }};
    return root;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// "WIPer" is matched by WIP and WIPER, in any case.
bool matches(std::string_view name, std::string_view alpha) {
    std::string shortForm;
    for (char c : name) {
        if (std::isupper(static_cast<unsigned char>(c))) shortForm += c;
    }
    const std::string given = upper(alpha);
    return given == shortForm || given == upper(name);
}

struct Mnemonic {
    std::string alpha;
    std::optional<int> suffix;  // digits after the letters
    bool valid = true;
};

Mnemonic splitMnemonic(std::string_view text) {
    Mnemonic m;
    std::size_t i = 0;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    m.alpha = std::string(text.substr(0, i));
    if (i < text.size()) {
        const auto digits = text.substr(i);
        int value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc{} || end != digits.data() + digits.size() || digits.size() > 4) {
            m.valid = false;
        } else {
            m.suffix = value;
        }
    }
    m.valid = m.valid && !m.alpha.empty() && m.alpha.size() <= 12;
    return m;
}

struct Match {
    std::vector<const Node*> path;  // from below the start node to the leaf
    int suffix = -1;
    bool suffixOutOfRange = false;
};

// Walks mnemonics[from..] from node, stepping into optional nodes where a
// mnemonic names none of the children. The leaf must have an operation.
bool walk(const Node& node, const std::vector<Mnemonic>& mnemonics, std::size_t from, Match& match) {
    if (from == mnemonics.size()) {
        if (node.op != Op::None) return true;
        for (const Node& child : node.children) {
            if (child.optional && child.op != Op::None) {
                match.path.push_back(&child);
                return true;
            }
        }
        return false;
    }
    const Mnemonic& m = mnemonics[from];
    for (const Node& child : node.children) {
        if (!matches(child.name, m.alpha)) continue;
        if (m.suffix && child.suffixMin < 0) continue;
        const std::size_t depth = match.path.size();
        const int suffix = match.suffix;
        const bool outOfRange = match.suffixOutOfRange;
        match.path.push_back(&child);
        if (child.suffixMin >= 0) {
            match.suffix = m.suffix.value_or(1);
            match.suffixOutOfRange = match.suffix < child.suffixMin || match.suffix > child.suffixMax;
        }
        if (walk(child, mnemonics, from + 1, match)) return true;
        match.path.resize(depth);
        match.suffix = suffix;
        match.suffixOutOfRange = outOfRange;
    }
    for (const Node& child : node.children) {
        if (!child.optional || child.children.empty()) continue;
        const std::size_t depth = match.path.size();
        match.path.push_back(&child);
        if (walk(child, mnemonics, from, match)) return true;
        match.path.resize(depth);
    }
    return false;
}

// Splits at separators outside quoted strings; says whether one is left open.
std::vector<std::string_view> split(std::string_view text, char separator, bool* quoteLeftOpen = nullptr) {
    std::vector<std::string_view> parts;
    char quote = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    if (quoteLeftOpen != nullptr) *quoteLeftOpen = quote != 0;
    return parts;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A numeric parameter: a decimal number (rounded) or MINimum, MAXimum, DEFault.
struct Number {
    enum class Kind : std::uint8_t { Value, Min, Max, Default, NotNumeric } kind = Kind::NotNumeric;
    double value = 0;
};

Number number(std::string_view text) {
    if (matches("MINimum", text)) return {Number::Kind::Min};
    if (matches("MAXimum", text)) return {Number::Kind::Max};
    if (matches("DEFault", text)) return {Number::Kind::Default};
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return {};
    return {Number::Kind::Value, value};
}

// SCPI's quoted string: the quote doubled inside.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

constexpr std::array<ScpiError, 15> kErrors{{
    {0, "No error"},
    {-101, "Invalid character"},
    {-102, "Syntax error"},
    {-104, "Data type error"},
    {-108, "Parameter not allowed"},
    {-109, "Missing parameter"},
    {-113, "Undefined header"},
    {-114, "Header suffix out of range"},
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-224, "Illegal parameter value"},
    {-240, "Hardware error"},
    {-241, "Hardware missing"},
    {-350, "Queue overflow"},
    {-363, "Input buffer overrun"},
}};

// Where an error sets the event status register: command, execution,
// device-dependent or query error.
std::uint8_t esrBit(int code) {
    if (code <= -100 && code > -200) return 0x20;
    if (code <= -200 && code > -300) return 0x10;
    if (code <= -300 && code > -400) return 0x08;
    if (code <= -400 && code > -500) return 0x04;
    return 0;
}

}  // namespace

std::string_view scpiErrorText(int code) {
    for (const ScpiError& e : kErrors) {
        if (e.code == code) return e.text;
    }
    return "Error";
}

std::span<const ScpiError> scpiErrors() { return std::span(kErrors).subspan(1); }  // not 0, "No error"

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

void ScpiInstrument::error(int code, std::string_view info) {
    esr_ = static_cast<std::uint8_t>(esr_ | esrBit(code));
    // A full queue keeps its oldest errors and ends in -350, a device-dependent error.
    if (errors_.size() + 1 >= kErrorQueue) {
        esr_ = static_cast<std::uint8_t>(esr_ | esrBit(-350));
        if (errors_.size() + 1 == kErrorQueue) errors_.emplace_back(-350, "");
        return;
    }
    errors_.emplace_back(code, bus::displayable(info));
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

std::uint8_t ScpiInstrument::statusByte() const {
    std::uint8_t stb = 0;
    if (!errors_.empty()) stb |= 0x04;           // EAV: an error is queued
    if ((esr_ & ese_) != 0) stb |= 0x20;         // ESB
    if ((stb & sre_ & 0xBF) != 0) stb |= 0x40;   // MSS
    return stb;
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
    const auto units = split(text, ';', &open);
    if (open) {
        error(-102, "a string is not closed; the line was dropped");
        return unanswered(queriesIn(text));
    }
    path_.clear();
    std::optional<std::string> answers;
    bool first = true;
    for (std::string_view raw : units) {
        if (!std::exchange(first, false) && options_.stopRequested && options_.stopRequested()) break;
        raw = trim(raw);
        if (raw.empty()) continue;
        Unit u;
        const std::size_t space = raw.find_first_of(" \t");
        std::string_view header = raw.substr(0, space);
        const std::string_view rest = space == std::string_view::npos ? std::string_view{} : trim(raw.substr(space));
        if (!header.empty() && header.back() == '?') {
            u.query = true;
            header.remove_suffix(1);
        }
        u.header = std::string(header);
        bool syntax = true;
        if (!rest.empty()) {
            for (std::string_view p : split(rest, ',')) {
                p = trim(p);
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
    std::vector<Mnemonic> mnemonics;
    for (std::string_view part : split(header, ':')) {
        Mnemonic m = splitMnemonic(part);
        if (!m.valid) {
            error(part.empty() ? -102 : -113, u.header);
            return std::nullopt;
        }
        mnemonics.push_back(std::move(m));
    }
    // After ';' a header goes on from where the last one's leaf hangs.
    const Node& start = absolute || path_.empty() ? tree() : *path_.back();
    Match match;
    bool found = walk(start, mnemonics, 0, match);
    std::vector<const Node*> base = absolute ? std::vector<const Node*>{} : path_;
    if (!found && &start != &tree()) {
        match = Match{};
        base.clear();
        found = walk(tree(), mnemonics, 0, match);
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
    return command(node, match.suffix, u);
}

std::optional<std::string> ScpiInstrument::command(const Node& node, int suffix, Unit& u) {
    const auto& c = program_->controls();
    const bool takesParameter = !u.query && node.op != Op::Run && node.op != Op::Shutdown && node.op != Op::Recover;
    const std::size_t most = u.query ? (node.op == Op::WiperCode ? 1 : 0) : (takesParameter ? 1 : 0);
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
        const Number n = number(u.params.front());
        switch (n.kind) {
            case Number::Kind::Min: return min;
            case Number::Kind::Max: return max;
            case Number::Kind::Default: return fallback;
            case Number::Kind::NotNumeric: error(-104, u.params.front()); return std::nullopt;
            case Number::Kind::Value: break;
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
    switch (node.op) {
        case Op::WiperCode: {
            if (u.query) {
                if (u.params.empty()) return std::to_string((suffix == 2 ? c.vsbInputCode2 : c.vsbInputCode1).Value());
                const auto limit = integer(0, 255, kDefaultCode);
                return limit ? std::optional<std::string>(std::to_string(*limit)) : std::nullopt;
            }
            const auto code = integer(0, 255, kDefaultCode);
            if (code) run("set " + std::to_string(suffix) + " " + std::to_string(*code));
            return std::nullopt;
        }
        case Op::Channel: {
            if (u.query) {
                return std::to_string(shown(*program_, "channel_written").value_or(0));
            }
            const auto channel = integer(1, 2, 1);
            if (channel) run(*channel == 2 ? "ch2" : "ch1");
            return std::nullopt;
        }
        case Op::Preset: {
            const std::string word = upper(u.params.front());
            if (word != "ZERO" && word != "MID" && word != "FULL") {
                error(-224, u.params.front() + " (ZERO, MID or FULL)");
                return std::nullopt;
            }
            run(word == "ZERO" ? "zero" : word == "MID" ? "mid" : "full");
            return std::nullopt;
        }
        case Op::Bit: {
            if (u.query) return std::to_string(c.vsbBit[static_cast<std::size_t>(suffix)].Value());
            const auto value = integer(0, 1, 0);
            if (value) run("bit:" + std::to_string(suffix) + "=" + std::to_string(*value));
            return std::nullopt;
        }
        case Op::Run: run("run"); return std::nullopt;
        case Op::Word: return std::to_string(program_->frameWord());
        case Op::Data: return byte(shown(*program_, "data_written"));
        case Op::Read: return read("read");
        case Op::Measure: return read("get");
        case Op::Fetch: return byte(shown(*program_, "byte_read"));
        case Op::Shutdown:
            if (descriptor_.findWord("shdn") == nullptr) {
                error(-113, u.header + ": program " + std::string(descriptor_.key) + " has no /SHDN");
                return std::nullopt;
            }
            run("shdn");
            return std::nullopt;
        case Op::Recover: run("recover"); return std::nullopt;
        case Op::Check: {
            if (u.query) return checkAck_ ? "1" : "0";
            const std::string word = upper(u.params.front());
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
        case Op::ErrorNext: {
            if (errors_.empty()) return "0," + quoted("No error");
            auto [code, info] = errors_.front();
            errors_.pop_front();
            std::string text(scpiErrorText(code));
            if (!info.empty()) text += ";" + info;
            return std::to_string(code) + "," + quoted(text);
        }
        case Op::ErrorCount: return std::to_string(errors_.size());
        case Op::Version: return "1999.0";
        case Op::None: break;
    }
    error(-113, u.header);
    return std::nullopt;
}

std::optional<std::string> ScpiInstrument::common(Unit& u) {
    const std::string name = upper(u.header) + (u.query ? "?" : "");
    auto mask = [&](std::uint8_t& registerValue) -> bool {
        if (u.params.size() != 1) {
            error(u.params.empty() ? -109 : -108, u.header);
            return false;
        }
        const Number n = number(u.params.front());
        if (n.kind != Number::Kind::Value) {
            error(-104, u.params.front());
            return false;
        }
        const double rounded = std::round(n.value);
        if (rounded < 0 || rounded > 255) {
            error(-222, u.params.front() + " (0..255)");
            return false;
        }
        registerValue = static_cast<std::uint8_t>(rounded);
        return true;
    };
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
    if (name == "*CLS") {
        errors_.clear();
        esr_ = 0;
        return std::nullopt;
    }
    if (name == "*ESE") {
        mask(ese_);
        return std::nullopt;
    }
    if (name == "*ESE?") return std::to_string(ese_);
    if (name == "*ESR?") {
        const std::uint8_t value = esr_;
        esr_ = 0;
        return std::to_string(value);
    }
    if (name == "*SRE") {
        if (mask(sre_)) sre_ &= 0xBF;  // bit 6 cannot be enabled
        return std::nullopt;
    }
    if (name == "*SRE?") return std::to_string(sre_);
    if (name == "*STB?") return std::to_string(statusByte());
    // Every command has finished when the next is read: operations complete at once.
    if (name == "*OPC") {
        esr_ |= 0x01;
        return std::nullopt;
    }
    if (name == "*OPC?") return "1";
    if (name == "*WAI") return std::nullopt;
    // No self-test touches the bus unasked; the parser and registers answering is the test.
    if (name == "*TST?") return "0";
    error(-113, u.header + (u.query ? "?" : ""));
    return std::nullopt;
}

}  // namespace script
