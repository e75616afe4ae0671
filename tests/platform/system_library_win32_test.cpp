// The OpenCL library is loaded from System32 only: a decoy OpenCL.dll planted beside the program,
// beside the plug-in and in the working folder (all of which the default search order visits
// before System32) must never be loaded, neither by loadSystemLibrary nor by the GPU runtime's
// start-up. The decoy records a load by creating a marker file from its DllMain.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "gpu/gpu_runtime.h"
#include "gpu/opencl_api.h"
#include "platform/platform.h"

namespace {

std::string fullPath(const char* path) {
    char buffer[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, MAX_PATH, buffer, nullptr);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string moduleFile(HMODULE module) {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Plants copies of the decoy and removes them (and the working folder) again.
class PlantedDecoys {
public:
    ~PlantedDecoys() {
        if (!previousDirectory_.empty()) SetCurrentDirectoryA(previousDirectory_.c_str());
        for (const std::string& copy : copies_) DeleteFileA(copy.c_str());
        if (!marker_.empty()) DeleteFileA(marker_.c_str());
        if (!workFolder_.empty()) RemoveDirectoryA(workFolder_.c_str());
        SetEnvironmentVariableA("LUMET_DECOY_MARKER", nullptr);
    }
    bool plant(const std::string& decoy, const std::string& folder) {
        const std::string copy = folder + "\\OpenCL.dll";
        if (std::find(copies_.begin(), copies_.end(), copy) != copies_.end()) return true;
        if (!CopyFileA(decoy.c_str(), copy.c_str(), TRUE)) return false;  // never overwrite
        copies_.push_back(copy);
        return true;
    }
    bool enterWorkFolder() {
        char temp[MAX_PATH], current[MAX_PATH];
        if (!GetTempPathA(MAX_PATH, temp) || !GetCurrentDirectoryA(MAX_PATH, current)) return false;
        workFolder_ = std::string(temp) + "lumet-decoy-" + std::to_string(GetCurrentProcessId());
        if (!CreateDirectoryA(workFolder_.c_str(), nullptr)) return false;
        marker_ = workFolder_ + "\\decoy-was-loaded";
        SetEnvironmentVariableA("LUMET_DECOY_MARKER", marker_.c_str());
        previousDirectory_ = current;
        return SetCurrentDirectoryA(workFolder_.c_str()) != 0;
    }
    const std::string& workFolder() const { return workFolder_; }
    const std::string& marker() const { return marker_; }

private:
    std::vector<std::string> copies_;
    std::string workFolder_, marker_, previousDirectory_;
};

}  // namespace

TEST(SystemLibrary, PlantedOpenClDllIsNeverLoaded) {
    if (GetModuleHandleA("OpenCL.dll")) GTEST_SKIP() << "an OpenCL.dll is already loaded";
    // Full paths first: the working folder changes below.
    const std::string decoy = fullPath(LUMET_OPENCL_DECOY_PATH);
    const std::string pluginFolder = folderOf(fullPath(LUMET_PLUGIN_PATH));
    const std::string programFolder = folderOf(moduleFile(nullptr));
    char systemFolder[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(systemFolder, MAX_PATH), 0u);
    ASSERT_TRUE(fileExists(decoy)) << decoy;

    PlantedDecoys planted;
    ASSERT_TRUE(planted.enterWorkFolder());
    ASSERT_TRUE(planted.plant(decoy, programFolder)) << programFolder;
    ASSERT_TRUE(planted.plant(decoy, pluginFolder)) << pluginFolder;
    ASSERT_TRUE(planted.plant(decoy, planted.workFolder()));

    // The bare-name load through the default search order does pick up the planted copy (this is
    // the hijack being defended against, and shows that the marker works).
    HMODULE hijacked = LoadLibraryA("OpenCL.dll");
    ASSERT_NE(hijacked, nullptr);
    EXPECT_TRUE(fileExists(planted.marker()))
        << "the decoy was not loaded by the default search order (under Wine, set "
           "WINEDLLOVERRIDES=opencl=n,b as cmake/wine-run.sh does, so Wine searches as Windows)";
    EXPECT_EQ(lower(folderOf(moduleFile(hijacked))), lower(programFolder));
    FreeLibrary(hijacked);
    ASSERT_EQ(GetModuleHandleA("OpenCL.dll"), nullptr);
    DeleteFileA(planted.marker().c_str());

    // A path instead of a bare name is refused.
    const std::string plantedPath = planted.workFolder() + "\\OpenCL.dll";
    EXPECT_EQ(lumet::platform::loadSystemLibrary(plantedPath.c_str()), nullptr);

    // The system loader and the GPU runtime's start-up load System32's copy, if there is one.
    void* system = lumet::platform::loadSystemLibrary("OpenCL.dll");
    lumet::gpu::loadOpenClEntryPoints();
    lumet::gpu::startGpuRuntime();
    lumet::gpu::shutdownGpuRuntime();
    EXPECT_FALSE(fileExists(planted.marker())) << "the planted OpenCL.dll was loaded";
    if (HMODULE loaded = GetModuleHandleA("OpenCL.dll")) {
        EXPECT_NE(system, nullptr);
        EXPECT_EQ(lower(folderOf(moduleFile(loaded))), lower(systemFolder));
    }
    lumet::platform::freeLibrary(system);
}

#endif  // _WIN32
