// Plug-in discovery and set-up for the subcommands.
#include "plugin_session.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace lumet::cli {

std::filesystem::path executableFolder() {
#ifdef _WIN32
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    if (length == 0 || length >= 32768) return {};
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
#else
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
#endif
}

std::filesystem::path findBesideProgram(const std::string& name) {
    const std::filesystem::path folder = executableFolder();
    for (const std::filesystem::path& candidate :
         {folder / name, folder / ".." / "lib" / "lumet" / name}) {
        if (std::filesystem::exists(candidate)) return candidate.lexically_normal();
    }
    return {};
}

namespace {

void check(PF_Err err, const char* step, const std::string& path) {
    if (err) {
        throw std::runtime_error(std::string(step) + " of " + path + " failed with error " +
                                 std::to_string(err));
    }
}

}  // namespace

void chooseOpenClDevice(const std::string& device) {
    const char* value = device == "cpu" ? "off" : device == "opencl" ? "any" : "auto";
#ifdef _WIN32
    const bool failed = _putenv_s("LUMET_OPENCL", value) != 0;
#else
    const bool failed = setenv("LUMET_OPENCL", value, 1) != 0;
#endif
    if (failed) throw std::runtime_error("cannot set LUMET_OPENCL for --device " + device);
}

void chooseMemoryBudget(const std::string& size) {
#ifdef _WIN32
    const bool failed = _putenv_s("LUMET_MEMORY_BUDGET", size.c_str()) != 0;
#else
    const bool failed = setenv("LUMET_MEMORY_BUDGET", size.c_str(), 1) != 0;
#endif
    if (failed) throw std::runtime_error("cannot set LUMET_MEMORY_BUDGET for --memory-budget " + size);
}

std::string resolvePluginPath(const std::string& explicitPath) {
    if (!explicitPath.empty()) return explicitPath;
    if (const char* fromEnvironment = std::getenv("LUMET_PLUGIN");
        fromEnvironment && *fromEnvironment) {
        return fromEnvironment;
    }
    const std::filesystem::path built =
        executableFolder() / ".." / "plugin" / LUMET_DEFAULT_PLUGIN_NAME;
    if (std::filesystem::exists(built)) return built.lexically_normal().string();
    if (const std::filesystem::path found = findBesideProgram(LUMET_DEFAULT_PLUGIN_NAME);
        !found.empty())
        return found.string();
    throw std::runtime_error(std::string("cannot find ") + LUMET_DEFAULT_PLUGIN_NAME +
                             " next to this program; give --plugin PATH or set LUMET_PLUGIN");
}

std::string resolveOfxBundlePath(const std::string& explicitPath) {
    constexpr const char* kBundleName = "Lumet.ofx.bundle";
    if (explicitPath.size() > 11 &&
        explicitPath.find(".ofx.bundle", explicitPath.size() - 12) != std::string::npos) {
        return explicitPath;
    }
    if (const char* fromEnvironment = std::getenv("LUMET_OFX_BUNDLE");
        fromEnvironment && *fromEnvironment) {
        return fromEnvironment;
    }
    const std::filesystem::path folder = executableFolder();
#ifdef _WIN32
    const std::filesystem::path standard = "C:/Program Files/Common Files/OFX/Plugins";
    constexpr char kPathSeparator = ';';
#else
    const std::filesystem::path standard = "/usr/OFX/Plugins";
    constexpr char kPathSeparator = ':';
#endif
    // A build tree's or an unpacked archive's own bundle first, then the folders OpenFX hosts
    // search: those of OFX_PLUGIN_PATH in order, the install prefix's (bin/../OFX/Plugins) and
    // the standard's.
    std::vector<std::filesystem::path> candidates = {folder / ".." / kBundleName,
                                                     folder / kBundleName};
    if (const char* searchPath = std::getenv("OFX_PLUGIN_PATH")) {
        const std::string list = searchPath;
        for (std::size_t start = 0; start <= list.size();) {
            std::size_t end = list.find(kPathSeparator, start);
            if (end == std::string::npos) end = list.size();
            if (end > start) {
                candidates.push_back(std::filesystem::path(list.substr(start, end - start)) /
                                     kBundleName);
            }
            start = end + 1;
        }
    }
    candidates.push_back(folder / ".." / "OFX" / "Plugins" / kBundleName);
    candidates.push_back(standard / kBundleName);
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_directory(candidate, error)) {
            return candidate.lexically_normal().string();
        }
    }
    throw std::runtime_error(std::string("cannot find ") + kBundleName +
                             " beside this program, in OFX_PLUGIN_PATH, " +
                             (folder / ".." / "OFX" / "Plugins").lexically_normal().string() +
                             " or " + standard.string() +
                             "; give --plugin PATH.ofx.bundle or set LUMET_OFX_BUNDLE");
}

std::unique_ptr<refhost::Host> openPlugin(const CommandContext& context, bool globalSetup) {
    const std::string path = resolvePluginPath(context.pluginPath);
    auto host = std::make_unique<refhost::Host>(path);
    check(host->registerPlugin(), "registration", path);
    if (globalSetup) check(host->globalSetup(), "global set-up", path);
    check(host->paramsSetup(), "parameter set-up", path);
    return host;
}

}  // namespace lumet::cli
