// The plug-in's two entry points, either resolved from a shared library loaded by path or handed
// over directly (an in-process lumet_core in tests).
#pragma once
#include <string>

#include "AE_Effect.h"
#include "AE_PluginData.h"

namespace refhost {

struct PluginEntryPoints {
    PF_FilterProc effectMain = nullptr;
    PluginDataEntryFunction2Ptr pluginDataEntry = nullptr;
};

// Owns a loaded plug-in library; unloads it on destruction.
class PluginLibrary {
public:
    // Loads the library and resolves EffectMain and PluginDataEntryFunction2. On failure returns
    // an empty library and describes the problem in *error.
    static PluginLibrary load(const std::string& path, std::string* error);

    PluginLibrary() = default;
    PluginLibrary(PluginLibrary&& other) noexcept;
    PluginLibrary& operator=(PluginLibrary&& other) noexcept;
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    ~PluginLibrary();

    bool loaded() const { return handle_ != nullptr; }
    const PluginEntryPoints& entryPoints() const { return entries_; }

private:
    void* handle_ = nullptr;
    PluginEntryPoints entries_;
};

}  // namespace refhost
