// Fuzzes the SCPI instrument with arbitrary lines (the input split at LF) on
// the simulated board: every line with a ? outside a dropped line is answered
// with one field per query, the error queue never grows past its bound, and
// the answers are printable ASCII, as a socket client reads them.
#include "commands/descriptor.h"
#include "script/scpi.h"
#include "sim/board.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::Board board;
    const auto& program = (size > 0 && (data[0] & 1) != 0) ? commands::kDescriptorA : commands::kDescriptorB;
    script::ScpiInstrument instrument(program, board, {"sim", "0"}, nullptr);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view line = input.substr(start, end - start);
        if (line.size() <= script::ScpiInstrument::kMaxLine) {
            const auto answer = instrument.line(line);
            if (answer) {
                for (const char c : *answer) {
                    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) std::abort();
                }
                if (line.find('?') == std::string_view::npos) std::abort();
            }
        } else {
            script::ScpiInstrument::QueryCounter counter;
            for (const char c : line) counter.feed(c);
            const auto answer = instrument.overrun(counter.count());
            if (answer && line.find('?') == std::string_view::npos) std::abort();
        }
        if (instrument.errorCount() > script::ScpiInstrument::kErrorQueue) std::abort();
        start = end + 1;
    }
    return 0;
}
