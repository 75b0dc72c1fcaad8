// The ftdi backend's own work: turning one transaction of each program into
// MPSSE commands, against a chip that takes every USB write at once and
// answers each pin read at once. Reports the bytes and USB writes each costs.
#include "bus/line_port.h"
#include "bus/transactions.h"
#include "ports/ftdi_port.h"

#include <benchmark/benchmark.h>

namespace {

struct InstantChip final : ports::FtdiSystem {
    std::uint64_t bytes = 0;
    std::uint64_t writes = 0;
    ports::FtdiOpen open(const std::string&, char) override {
        ports::FtdiOpen opened;
        opened.kind = ports::FtdiOpen::Kind::Opened;
        opened.device.chip = "FT232H";
        return opened;
    }
    std::vector<ports::FtdiDevice> devices() override { return {}; }
    int write(const std::uint8_t* data, int size) override {
        bytes += static_cast<std::uint64_t>(size);
        ++writes;
        pending = size == 1 && data[0] == 0xAA ? 2 : 1;  // the echo check, or a pin read
        return size;
    }
    int read(std::uint8_t* data, int size) override {
        const int n = pending < size ? pending : size;
        for (int i = 0; i < n; ++i) data[i] = i == 0 && pending == 2 ? 0xFA : 0xAA;
        pending -= n;
        return n;
    }
    std::string error() override { return {}; }
    void close() override {}
    bool validSelector(const std::string&) const override { return true; }
    int pending = 0;
};

template <typename Transaction>
void encode(benchmark::State& state, Transaction transaction) {
    auto chip = std::make_unique<InstantChip>();
    InstantChip& counts = *chip;
    bus::LinePort port("ftdi", std::make_unique<ports::FtdiLines>(
                                   ports::FtdiWiring{"i:0403:6014", 'A', {0, 1, 2, 3, false}}, std::move(chip)));
    port.OutportW(bus::kDataRegister, 0x13);  // opens, outside the measurement
    const std::uint64_t bytes0 = counts.bytes, writes0 = counts.writes;
    for (auto _ : state) transaction(port);
    const auto n = static_cast<double>(state.iterations());
    state.counters["bytes"] = static_cast<double>(counts.bytes - bytes0) / n;
    state.counters["usb_writes"] = static_cast<double>(counts.writes - writes0) / n;
}

void BM_Mpsse_ProgramBFrame(benchmark::State& state) {
    encode(state, [](bus::Port& port) { bus::writeFrame(port, bus::kFrameB, 0x2C00100); });
}
BENCHMARK(BM_Mpsse_ProgramBFrame);

void BM_Mpsse_ProgramAFrameWithReadBack(benchmark::State& state) {
    encode(state, [](bus::Port& port) {
        bus::writeFrame(port, bus::kFrameA, 0x1600080);
        benchmark::DoNotOptimize(bus::readBack(port, bus::kCodesA, bus::kReadBackAddress));
    });
}
BENCHMARK(BM_Mpsse_ProgramAFrameWithReadBack);

void BM_Mpsse_ProgramBRead(benchmark::State& state) {
    encode(state, [](bus::Port& port) {
        bus::writeFrame(port, bus::kFrameB, 0x2C00100);
        benchmark::DoNotOptimize(bus::readBack(port, bus::kCodesB, bus::kReadBackAddress));
    });
}
BENCHMARK(BM_Mpsse_ProgramBRead);

}  // namespace

BENCHMARK_MAIN();
