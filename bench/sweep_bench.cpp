// A 256-code sweep on the simulated board, program A (each code written and
// read back), the ways a lab script can drive it: through the Python module in
// this process, through one `pxctl -` process fed a line per code and read back
// a line at a time, through pxctl serve as SCPI over loopback (a command and
// its answer per code, and over VXI-11 as VISA sends it: a device_write and a
// device_read per code), and through one pxctl process per code. Each timed
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

// One `pxctl -` process for program A on the simulated board, fed lines and read a line at a time.
class PxctlPipe {
public:
    PxctlPipe() {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = spawn({PXCTL, "--program", "a", "--port", "sim", "-"}, toChild[0], fromChild[1]);
        close(toChild[0]);
        close(fromChild[1]);
        out_ = fdopen(toChild[1], "w");
        in_ = fdopen(fromChild[0], "r");
    }
    ~PxctlPipe() {
        std::fclose(out_);
        std::fclose(in_);
        waitpid(pid_, nullptr, 0);
    }
    void send(const std::string& text) {
        std::fputs(text.c_str(), out_);
        std::fflush(out_);
    }
    int answer() {
        char line[64];
        return std::fgets(line, sizeof line, in_) == nullptr ? -1 : std::stoi(line);
    }

private:
    pid_t pid_ = 0;
    std::FILE* out_ = nullptr;
    std::FILE* in_ = nullptr;
};

void BM_Sweep_PxctlPipe(benchmark::State& state) {
    PxctlPipe pipe;
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) {
            pipe.send("set 1 " + std::to_string(code) + "\n");
            if (pipe.answer() != code) state.SkipWithError("no answer");
        }
    }
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep_PxctlPipe)->Unit(benchmark::kMillisecond)->UseRealTime();

// pxctl serve for program A on the simulated board, and one client connected to it.
class ScpiClient {
public:
    ScpiClient() {
        int said[2];
        if (pipe2(said, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = spawn({PXCTL, "--program", "a", "--port", "sim", "serve", "--listen", "127.0.0.1:0"}, -1, -1, said[1]);
        close(said[1]);
        err_ = fdopen(said[0], "r");
        char line[256] = {};
        int port = 0;
        if (std::fgets(line, sizeof line, err_) == nullptr ||
            std::sscanf(line, "pxctl: serve: listening on 127.0.0.1:%d; VXI-11 on 127.0.0.1:%d", &port, &vxi11Port_) != 2) {
            throw std::runtime_error("the server did not start");
        }
        sock_ = connectTo(port);
    }
    static int connectTo(int port) {
        const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("connect");
        }
        return sock;
    }
    int vxi11Port() const { return vxi11Port_; }
    ~ScpiClient() {
        close(sock_);
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        std::fclose(err_);
    }
    void send(const std::string& text) const {
        if (::send(sock_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("send");
        }
    }
    // The next answer line, as a number.
    int answer() {
        for (;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                const int value = std::stoi(buffer_.substr(0, end));
                buffer_.erase(0, end + 1);
                return value;
            }
            char chunk[4096];
            const ssize_t n = recv(sock_, chunk, sizeof chunk, 0);
            if (n <= 0) throw std::runtime_error("recv");
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    pid_t pid_ = 0;
    std::FILE* err_ = nullptr;
    int sock_ = -1;
    int vxi11Port_ = 0;
    std::string buffer_;
};

// A VXI-11 client of the same server, as VISA is one: each call's reply read
// before the next call goes.
class Vxi11Client {
public:
    explicit Vxi11Client(int port) : sock_(ScpiClient::connectTo(port)) {
        const std::string reply = call(10, words({1, 0, 0, 5}) + std::string("inst0\0\0\0", 8));
        if (word(reply, 24) != 0) throw std::runtime_error("create_link");
        link_ = word(reply, 28);
    }
    ~Vxi11Client() { close(sock_); }
    void write(const std::string& text) {
        const std::size_t padded = (text.size() + 3) / 4 * 4;
        if (word(call(11, words({link_, 0, 0, 8, static_cast<std::uint32_t>(text.size())}) + text +
                                std::string(padded - text.size(), '\0')), 24) != 0) {
            throw std::runtime_error("device_write");
        }
    }
    int read() {
        const std::string reply = call(12, words({link_, 1024, 0, 0, 0, 0}));
        if (word(reply, 24) != 0) throw std::runtime_error("device_read");
        return std::stoi(reply.substr(36, word(reply, 32)));
    }

private:
    static std::string words(std::initializer_list<std::uint32_t> values) {
        std::string out;
        for (const std::uint32_t v : values) {
            for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
        }
        return out;
    }
    static std::uint32_t word(const std::string& s, std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
        return v;
    }
    std::string call(std::uint32_t procedure, const std::string& args) {
        const std::string body = words({++xid_, 0, 2, 0x0607AF, 1, procedure, 0, 0, 0, 0}) + args;
        const std::string record = words({0x80000000u | static_cast<std::uint32_t>(body.size())}) + body;
        if (::send(sock_, record.data(), record.size(), 0) != static_cast<ssize_t>(record.size())) {
            throw std::runtime_error("send");
        }
        std::string in;
        std::size_t need = 4;
        while (in.size() < need) {
            char chunk[4096];
            const ssize_t n = recv(sock_, chunk, sizeof chunk, 0);
            if (n <= 0) throw std::runtime_error("recv");
            in.append(chunk, static_cast<std::size_t>(n));
            if (in.size() >= 4) need = 4 + (word(in, 0) & 0x7FFFFFFFu);
        }
        return in.substr(4);
    }
    int sock_;
    std::uint32_t link_ = 0;
    std::uint32_t xid_ = 0;
};

void perCode(benchmark::State& state) {
    state.counters["us_per_code"] = benchmark::Counter(kCodes, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}

// A command and its query on one line, the answer read before the next.
void BM_Sweep_ScpiLoopback(benchmark::State& state) {
    ScpiClient client;
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) {
            client.send("WIP1 " + std::to_string(code) + ";FETC?\n");
            if (client.answer() != code) state.SkipWithError("wrong answer");
        }
    }
    perCode(state);
}
BENCHMARK(BM_Sweep_ScpiLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same line over VXI-11: device_write with END, then device_read.
void BM_Sweep_Vxi11(benchmark::State& state) {
    ScpiClient server;
    Vxi11Client client(server.vxi11Port());
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) {
            client.write("WIP1 " + std::to_string(code) + ";FETC?\n");
            if (client.read() != code) state.SkipWithError("wrong answer");
        }
    }
    perCode(state);
}
BENCHMARK(BM_Sweep_Vxi11)->Unit(benchmark::kMillisecond)->UseRealTime();

// The command and then the query, each its own write, as LabVIEW's TCP Write
// or a plain socket script sends them (Nagle's algorithm on the client's side).
void BM_Sweep_ScpiTwoWrites(benchmark::State& state) {
    ScpiClient client;
    for (auto _ : state) {
        for (int code = 0; code < kCodes; ++code) {
            client.send("WIP1 " + std::to_string(code) + "\n");
            client.send("FETC?\n");
            if (client.answer() != code) state.SkipWithError("wrong answer");
        }
    }
    perCode(state);
}
BENCHMARK(BM_Sweep_ScpiTwoWrites)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole sweep sent at once, then its answers read.
void BM_Sweep_ScpiPipelined(benchmark::State& state) {
    ScpiClient client;
    std::string sweep;
    for (int code = 0; code < kCodes; ++code) sweep += "WIP1 " + std::to_string(code) + ";FETC?\n";
    for (auto _ : state) {
        client.send(sweep);
        for (int code = 0; code < kCodes; ++code) {
            if (client.answer() != code) state.SkipWithError("wrong answer");
        }
    }
    perCode(state);
}
BENCHMARK(BM_Sweep_ScpiPipelined)->Unit(benchmark::kMillisecond)->UseRealTime();

// The pipe's own pipelined sweep, the yardstick of the one above.
void BM_Sweep_PxctlPipePipelined(benchmark::State& state) {
    PxctlPipe pipe;
    std::string sweep;
    for (int code = 0; code < kCodes; ++code) sweep += "set 1 " + std::to_string(code) + "\n";
    for (auto _ : state) {
        pipe.send(sweep);
        for (int code = 0; code < kCodes; ++code) {
            if (pipe.answer() != code) state.SkipWithError("no answer");
        }
    }
    perCode(state);
}
BENCHMARK(BM_Sweep_PxctlPipePipelined)->Unit(benchmark::kMillisecond)->UseRealTime();

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
