// Runs one of the built programs as a user would, with a shell command line,
// and collects its exit status, standard output and standard error.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testing_support {

struct ProcessResult {
    int status;
    std::string out;
    std::string err;
};

// input, when not empty, is the program's standard input; env comes before the
// command, as in a shell.
inline ProcessResult runProgram(const std::string& arguments, const std::string& binary, const std::string& input = "",
                                const std::string& env = "QT_QPA_PLATFORM=offscreen") {
    // ctest runs tests in parallel: one file per test.
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string id = std::string(test->test_suite_name()) + "_" + test->name();
    for (char& ch : id) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    const std::string errFile = testing::TempDir() + "px77xx_stderr_" + id + ".txt";
    std::string command = env + " " + binary + " " + arguments + " 2>" + errFile;
    if (!input.empty()) {
        const std::string inFile = testing::TempDir() + "px77xx_stdin_" + id + ".txt";
        if (std::FILE* in = std::fopen(inFile.c_str(), "w")) {
            std::fputs(input.c_str(), in);
            std::fclose(in);
        }
        command += " <" + inFile;
    }
    ProcessResult run{};
    std::FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.out += buffer;
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (std::FILE* err = std::fopen(errFile.c_str(), "r")) {
        while (std::fgets(buffer, sizeof buffer, err) != nullptr) run.err += buffer;
        std::fclose(err);
    }
    return run;
}

// A program started in the background, to be signalled or raced against
// another: its standard output and error go to files.
struct Spawned {
    pid_t pid = -1;
    std::string outFile;
    std::string errFile;
};

// Pointers into strings, for exec: the strings must outlive them.
inline std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

inline Spawned spawnProgram(const std::string& binary, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& env, const std::string& name) {
    Spawned run;
    run.outFile = testing::TempDir() + "px77xx_spawn_out_" + name + ".txt";
    run.errFile = testing::TempDir() + "px77xx_spawn_err_" + name + ".txt";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, run.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, run.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = env;
    for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
    EXPECT_EQ(posix_spawn(&run.pid, binary.c_str(), &files, nullptr, pointersTo(argv).data(),
                          pointersTo(environment).data()),
              0)
        << binary;
    posix_spawn_file_actions_destroy(&files);
    return run;
}

// The exit status, or -1 where the program was ended by a signal.
inline int waitExit(const Spawned& run) {
    int raw = 0;
    if (waitpid(run.pid, &raw, 0) != run.pid) return -2;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

inline std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(fileText(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Waits, 20 s at most, until a file another process writes has at least `count`
// lines (a port library's access log, say).
inline void waitForLines(const std::string& path, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (fileLines(path).size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace testing_support
