// A 256-code sweep on the simulated board, program A (each code written and
// read back), the ways a lab script can drive it: through the Python module in
// this process, through one `pxctl -` process fed a line per code and read back
// a line at a time, through pxctl serve as SCPI over loopback (a command and
// its answer per code), and through one pxctl process per code. Each timed
// iteration is the whole sweep; the module, the pipe and the server are opened
// once, before the timing.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace py = pybind11;

namespace {

constexpr int kCodes = 256;

pid_t spawn(const std::vector<std::string>& arguments, int in, int out, int err = -1) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (in >= 0) posix_spawn_file_actions_adddup2(&files, in, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&files, out, 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&files, err, 2);
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
    const py::object device = px.attr("open")("a", "sim");
    const py::object set = device.attr("set");
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) set(1, code);
        if (device.attr("byte_read").cast<int>() != kCodes - 1) state.SkipWithError("wrong read-back");
    }
    device.attr("close")();
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep_PythonModule)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sweep_PxctlPipe(benchmark::State& state) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid = spawn({PXCTL, "--program", "a", "--port", "sim", "-"}, toChild[0], fromChild[1]);
    close(toChild[0]);
    close(fromChild[1]);
    std::FILE* out = fdopen(toChild[1], "w");
    std::FILE* in = fdopen(fromChild[0], "r");
    char line[64];
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) {
            std::fprintf(out, "set 1 %d\n", code);
            std::fflush(out);
            if (std::fgets(line, sizeof line, in) == nullptr || std::stoi(line) != code) state.SkipWithError("no answer");
        }
    }
    std::fclose(out);
    std::fclose(in);
    waitpid(pid, nullptr, 0);
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep_PxctlPipe)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Sweep_ScpiLoopback(benchmark::State& state) {
    int said[2];
    if (pipe2(said, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid =
        spawn({PXCTL, "--program", "a", "--port", "sim", "serve", "--listen", "127.0.0.1:0"}, -1, -1, said[1]);
    close(said[1]);
    std::FILE* err = fdopen(said[0], "r");
    char line[256] = {};
    int port = 0;
    if (std::fgets(line, sizeof line, err) == nullptr || std::sscanf(line, "pxctl: serve: listening on 127.0.0.1:%d", &port) != 1) {
        state.SkipWithError("the server did not start");
        return;
    }
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("connect");
    char answer[64];
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) {
            const std::string command = "WIP1 " + std::to_string(code) + ";FETC?\n";
            if (send(sock, command.data(), command.size(), 0) != static_cast<ssize_t>(command.size())) {
                state.SkipWithError("send");
            }
            std::size_t got = 0;
            while (got == 0 || answer[got - 1] != '\n') {
                const ssize_t n = recv(sock, answer + got, sizeof answer - got, 0);
                if (n <= 0) throw std::runtime_error("recv");
                got += static_cast<std::size_t>(n);
            }
            if (std::stoi(std::string(answer, got)) != code) state.SkipWithError("wrong answer");
        }
    }
    close(sock);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::fclose(err);
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep_ScpiLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

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
