// Runs one of the built programs as a user would, with a shell command line,
// and collects its exit status, standard output and standard error.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <sys/wait.h>

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

}  // namespace testing_support
