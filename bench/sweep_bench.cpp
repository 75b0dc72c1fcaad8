// A 256-code sweep on the simulated board, program A (each code written and
// read back), three ways a lab script can drive it: through the Python module
// in this process, through one `pxctl -` process fed a line per code and read
// back a line at a time, and through one pxctl process per code. Each timed
// iteration is the whole sweep, opening included.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace py = pybind11;

namespace {

constexpr int kCodes = 256;

pid_t spawn(const std::vector<std::string>& arguments, int in, int out) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (in >= 0) posix_spawn_file_actions_adddup2(&files, in, 0);
    posix_spawn_file_actions_adddup2(&files, out, 1);
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, PXCTL, &files, nullptr, argv.data(), environ) != 0) throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

void BM_Sweep_PythonModule(benchmark::State& state) {
    py::module_::import("sys").attr("path").attr("insert")(0, PX_PYTHON_DIR);
    const py::module_ px = py::module_::import("px77xx");
    for (auto _ : state) {
        const py::object device = px.attr("open")("a", "sim");
        const py::object set = device.attr("set");
        for (int code = 0; code < kCodes; ++code) set(1, code);
        if (device.attr("byte_read").cast<int>() != kCodes - 1) state.SkipWithError("wrong read-back");
        device.attr("close")();
    }
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep_PythonModule)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sweep_PxctlPipe(benchmark::State& state) {
    for (auto _ : state) {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        const pid_t pid = spawn({PXCTL, "--program", "a", "--port", "sim", "-"}, toChild[0], fromChild[1]);
        close(toChild[0]);
        close(fromChild[1]);
        std::FILE* out = fdopen(toChild[1], "w");
        std::FILE* in = fdopen(fromChild[0], "r");
        char line[64];
        for (int code = 0; code < kCodes; ++code) {
            std::fprintf(out, "set 1 %d\n", code);
            std::fflush(out);
            if (std::fgets(line, sizeof line, in) == nullptr || std::stoi(line) != code) state.SkipWithError("no answer");
        }
        std::fclose(out);
        std::fclose(in);
        waitpid(pid, nullptr, 0);
    }
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep_PxctlPipe)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sweep_PxctlPerCode(benchmark::State& state) {
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) {
            int fromChild[2];
            if (pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
            const pid_t pid = spawn({PXCTL, "--program", "a", "--port", "sim", "set", "1", std::to_string(code)}, -1,
                                    fromChild[1]);
            close(fromChild[1]);
            char line[64] = {};
            const ssize_t got = read(fromChild[0], line, sizeof line - 1);
            close(fromChild[0]);
            waitpid(pid, nullptr, 0);
            if (got <= 0 || std::stoi(line) != code) state.SkipWithError("no answer");
        }
    }
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep_PxctlPerCode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const py::scoped_interpreter python;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
