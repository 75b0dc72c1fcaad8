// Our own cost around the port accesses: the bus engine, the headless operator
// actions and the simulated board, each against a port that does nothing.
#include "bus/transactions.h"
#include "commands/program.h"
#include "null_port.h"
#include "sim/board.h"

#include <benchmark/benchmark.h>

namespace {

using bench_support::NullPort;

// Reports nanoseconds per port access alongside the time per operation.
void perAccess(benchmark::State& state, const NullPort& port) {
    state.counters["ns_per_access"] = benchmark::Counter(static_cast<double>(port.accesses),
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Engine_ProgramAFrameWithReadBack(benchmark::State& state) {
    NullPort port;
    for (auto _ : state) {
        bus::writeFrame(port, bus::kFrameA, 0x1600080);
        benchmark::DoNotOptimize(bus::readBack(port, bus::kCodesA, bus::kReadBackAddress));
    }
    perAccess(state, port);
}
BENCHMARK(BM_Engine_ProgramAFrameWithReadBack);

void BM_Engine_ProgramBFrame(benchmark::State& state) {
    NullPort port;
    for (auto _ : state) bus::writeFrame(port, bus::kFrameB, 0x2C00100);
    benchmark::DoNotOptimize(port.sink);
    perAccess(state, port);
}
BENCHMARK(BM_Engine_ProgramBFrame);

void BM_Engine_ProgramBRead(benchmark::State& state) {
    NullPort port;
    for (auto _ : state) {
        bus::writeFrame(port, bus::kFrameB, 0x2C00100);
        benchmark::DoNotOptimize(bus::readBack(port, bus::kCodesB, bus::kReadBackAddress));
    }
    perAccess(state, port);
}
BENCHMARK(BM_Engine_ProgramBRead);

// The deepest cascade: the code scroll bar moves, its handler spreads and writes
// a frame, then the preset spreads and writes it again.
void BM_Action_ProgramBFullScaleChannel2From10(benchmark::State& state) {
    NullPort port;
    commands::ProgramB b(port);
    b.cmdCh2_Click();
    for (auto _ : state) {
        state.PauseTiming();
        b.controls().vsbInputCode2.setValue(10);
        state.ResumeTiming();
        b.cmdFS_Click();
    }
}
BENCHMARK(BM_Action_ProgramBFullScaleChannel2From10);

void BM_Action_ProgramACodeChangeWithReadBack(benchmark::State& state) {
    NullPort port;
    commands::ProgramA a(port);
    int code = 100;
    for (auto _ : state) {
        code ^= 0x55;  // a real change every time, many bits moving
        a.controls().vsbInputCode1.setValue(code);
    }
}
BENCHMARK(BM_Action_ProgramACodeChangeWithReadBack);

void BM_Action_ProgramAMidScaleFrom10(benchmark::State& state) {
    NullPort port;
    commands::ProgramA a(port);
    for (auto _ : state) {
        state.PauseTiming();
        a.controls().vsbInputCode1.setValue(10);
        state.ResumeTiming();
        a.cmdMS_Click();
    }
}
BENCHMARK(BM_Action_ProgramAMidScaleFrom10);

void BM_Action_ProgramBRead(benchmark::State& state) {
    NullPort port;
    commands::ProgramB b(port);
    b.controls().vsbInputCode1.setValue(77);
    for (auto _ : state) b.cmdRead_Click();
}
BENCHMARK(BM_Action_ProgramBRead);

void BM_Sim_PerAccess(benchmark::State& state) {
    sim::Board board;
    std::uint64_t accesses = 0;
    for (auto _ : state) {
        bus::writeFrame(board, bus::kFrameB, 0x2C00190);
        benchmark::DoNotOptimize(bus::readBack(board, bus::kCodesB, bus::kReadBackAddress));
        accesses += 59 + 48;
    }
    state.counters["ns_per_access"] =
        benchmark::Counter(static_cast<double>(accesses), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sim_PerAccess);

}  // namespace

BENCHMARK_MAIN();
