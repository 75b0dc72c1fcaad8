// The same operator actions through the real widgets (offscreen), drawing included.
#include "commands/descriptor.h"
#include "commands/program.h"
#include "null_port.h"
#include "ui/qt/window.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

using bench_support::NullPort;

// Runs the action as the window dispatches it, then lets the window paint.
template <typename Setup, typename Action>
void throughWindow(benchmark::State& state, const commands::Descriptor& descriptor, Setup setup, Action action) {
    NullPort port;
    auto program = descriptor.make(port);
    ui::Window window(descriptor, *program);
    window.show();
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        window.dispatch([&] { setup(*program); });
        QApplication::processEvents();
        state.ResumeTiming();
        window.dispatch([&] { action(*program); });
        QApplication::processEvents();  // draws what changed, as the event loop does after each event
    }
}

void BM_Window_ProgramBFullScaleChannel2From10(benchmark::State& state) {
    throughWindow(
        state, commands::kDescriptorB,
        [](commands::Program& p) {
            p.cmdCh2_Click();
            p.controls().vsbInputCode2.setValue(10);
        },
        [](commands::Program& p) { p.cmdFS_Click(); });
}
BENCHMARK(BM_Window_ProgramBFullScaleChannel2From10)->Unit(benchmark::kMicrosecond);

void BM_Window_ProgramACodeChangeWithReadBack(benchmark::State& state) {
    int code = 100;
    throughWindow(
        state, commands::kDescriptorA, [](commands::Program&) {},
        [&code](commands::Program& p) {
            code ^= 0x55;
            p.controls().vsbInputCode1.setValue(code);
        });
}
BENCHMARK(BM_Window_ProgramACodeChangeWithReadBack)->Unit(benchmark::kMicrosecond);

void BM_Window_ProgramAMidScaleFrom10(benchmark::State& state) {
    throughWindow(
        state, commands::kDescriptorA, [](commands::Program& p) { p.controls().vsbInputCode1.setValue(10); },
        [](commands::Program& p) { p.cmdMS_Click(); });
}
BENCHMARK(BM_Window_ProgramAMidScaleFrom10)->Unit(benchmark::kMicrosecond);

void BM_Window_ProgramBRead(benchmark::State& state) {
    throughWindow(
        state, commands::kDescriptorB, [](commands::Program&) {}, [](commands::Program& p) { p.cmdRead_Click(); });
}
BENCHMARK(BM_Window_ProgramBRead)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
