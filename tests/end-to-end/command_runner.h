// Running the built lumet command from a test through the platform's shell: /bin/sh with popen on
// Linux, cmd.exe with _popen on Windows (where the exit status comes back as it is, not encoded
// as wait() encodes it).
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace lumet::testing {

struct CommandResult {
    int status = -1;  // exit status; -1 when the command could not run or did not exit
    std::string out;  // what it wrote to the pipe
};

#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

// The lumet program as the shell wants to see it: cmd.exe reads a leading '/' as a switch, so
// Windows gets back slashes.
inline std::string cliProgram() {
    std::string program = LUMET_CLI_PATH;
#ifdef _WIN32
    std::replace(program.begin(), program.end(), '/', '\\');
#endif
    return program;
}

// Runs a shell command line once and collects its standard output.
inline CommandResult runCommandOnce(const std::string& commandLine) {
    CommandResult result;
#ifdef _WIN32
    FILE* pipe = _popen(commandLine.c_str(), "rb");
#else
    FILE* pipe = popen(commandLine.c_str(), "r");
#endif
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
#ifdef _WIN32
    result.status = _pclose(pipe);
    // cmd.exe passes text through as written; fold CR LF line ends to LF as on Linux.
    result.out.erase(std::remove(result.out.begin(), result.out.end(), '\r'), result.out.end());
#else
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return result;
}

// Runs a shell command line and collects its standard output. A command the shell could not
// start at all (no status, no output: seen from cmd.exe under Wine on a loaded machine) is tried
// twice more, so that the tests judge the program and not the process launch.
inline CommandResult runCommand(const std::string& commandLine) {
    CommandResult result = runCommandOnce(commandLine);
    for (int attempt = 1; attempt < 3 && result.status == -1 && result.out.empty(); ++attempt)
        result = runCommandOnce(commandLine);
    return result;
}

// A test with a folder of its own for the command's files, emptied before and removed after.
class CommandFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("lumet_cli_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

}  // namespace lumet::testing
