// Running the built lumet command from a test through the platform's shell: /bin/sh with popen on
// Linux, cmd.exe with _popen on Windows (where the exit status comes back as it is, not encoded
// as wait() encodes it).
#pragma once
#include <algorithm>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
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

// Runs a shell command line and collects its standard output.
inline CommandResult runCommand(const std::string& commandLine) {
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

}  // namespace lumet::testing
