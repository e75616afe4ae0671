// Plug-in discovery and set-up for the subcommands.
#include "plugin_session.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

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

std::string resolvePluginPath(const std::string& explicitPath) {
    if (!explicitPath.empty()) return explicitPath;
    if (const char* fromEnvironment = std::getenv("LUMET_PLUGIN");
        fromEnvironment && *fromEnvironment) {
        return fromEnvironment;
    }
    const std::filesystem::path folder = executableFolder();
    for (const std::filesystem::path& candidate :
         {folder / ".." / "plugin" / LUMET_DEFAULT_PLUGIN_NAME, folder / LUMET_DEFAULT_PLUGIN_NAME,
          folder / ".." / "lib" / "lumet" / LUMET_DEFAULT_PLUGIN_NAME}) {
        if (std::filesystem::exists(candidate)) return candidate.lexically_normal().string();
    }
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
#else
    const std::filesystem::path standard = "/usr/OFX/Plugins";
#endif
    for (const std::filesystem::path& candidate :
         {folder / ".." / kBundleName, folder / kBundleName,
          folder / ".." / "OFX" / "Plugins" / kBundleName, standard / kBundleName}) {
        if (std::filesystem::is_directory(candidate)) return candidate.lexically_normal().string();
    }
    throw std::runtime_error(std::string("cannot find ") + kBundleName +
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
