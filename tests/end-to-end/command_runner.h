// Running a built program from a test with an argument vector: posix_spawn on Linux,
// CreateProcess on Windows, so that neither /bin/sh nor cmd.exe parses a command line. Its
// standard output (and standard error, unless discarded) comes back through a pipe, its exit
// status as the program returned it.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
extern char** environ;
#endif

namespace lumet::testing {

struct CommandResult {
    int status = -1;  // exit status; -1 when the program could not run or did not exit
    std::string out;  // what it wrote
};

struct RunOptions {
    bool withStderr = true;  // standard error into `out`; otherwise discarded
    // Environment changes (POSIX): a value sets the variable, nullopt removes it.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    // Resource limits in bytes (POSIX; 0: none), applied through util-linux's prlimit. Under a
    // file-size limit SIGXFSZ is blocked, so a write past it fails instead of killing the program.
    std::uint64_t fileSizeLimit = 0, addressSpaceLimit = 0;
};

// Splits a line into words at blanks; single or double quotes keep blanks inside a word (no
// escapes, no expansions: the words are the program's arguments as written).
inline std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

#ifdef _WIN32
inline std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

// One argument as the C runtime's command-line parser reads it back: quoted, with the
// backslashes before a quote (and before the closing quote) doubled.
inline std::wstring quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

inline CommandResult runProgram(const std::vector<std::string>& argv, const RunOptions& options) {
    CommandResult result;
    std::wstring commandLine;
    for (const std::string& arg : argv) commandLine += (commandLine.empty() ? L"" : L" ") + quoted(wide(arg));
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writeEnd;
    startup.hStdError = options.withStderr ? writeEnd : nul;
    PROCESS_INFORMATION process{};
    const std::wstring program = wide(argv.front());
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) result.out.append(buffer, n);
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) result.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    CloseHandle(nul);
    result.out.erase(std::remove(result.out.begin(), result.out.end(), '\r'), result.out.end());
    return result;
}
#else
inline CommandResult runProgram(std::vector<std::string> argv, const RunOptions& options) {
    CommandResult result;
    if (options.fileSizeLimit || options.addressSpaceLimit) {
        std::vector<std::string> limited = {"prlimit"};
        if (options.fileSizeLimit)
            limited.push_back("--fsize=" + std::to_string(options.fileSizeLimit));
        if (options.addressSpaceLimit)
            limited.push_back("--as=" + std::to_string(options.addressSpaceLimit));
        limited.push_back("--");
        argv.insert(argv.begin(), limited.begin(), limited.end());
    }
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) environment.emplace_back(*variable);
    for (const auto& change : options.environment) {
        const std::string prefix = change.first + "=";
        std::erase_if(environment,
                      [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
        if (change.second) environment.push_back(prefix + *change.second);
    }
    auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> list;
        for (std::string& text : texts) list.push_back(text.data());
        list.push_back(nullptr);
        return list;
    };
    std::vector<char*> args = pointers(argv), envp = pointers(environment);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    if (options.withStderr) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t blocked;
    sigemptyset(&blocked);
    if (options.fileSizeLimit) sigaddset(&blocked, SIGXFSZ);
    posix_spawnattr_setsigmask(&attributes, &blocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeEnds[1]);
    if (spawned == 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, std::size_t(n));
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    }
    close(pipeEnds[0]);
    return result;
}
#endif

// Runs the built lumet command with the arguments split into words as splitWords does.
inline CommandResult runLumet(const std::string& arguments, const RunOptions& options = {}) {
    std::vector<std::string> argv = {LUMET_CLI_PATH};
    for (std::string& word : splitWords(arguments)) argv.push_back(std::move(word));
    return runProgram(argv, options);
}

// A file's bytes (none when it cannot be read).
inline std::vector<unsigned char> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
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
