// Loading the plug-in library and resolving its entry points by their exported names.
#include "refhost/plugin_library.h"

#include <utility>

#include "platform/platform.h"

namespace refhost {

PluginLibrary PluginLibrary::load(const std::string& path, std::string* error) {
    PluginLibrary library;
    library.handle_ = lumet::platform::loadLibrary(path.c_str());
    if (!library.handle_) {
        if (error) *error = "cannot load plug-in library " + path;
        return library;
    }
    library.entries_.effectMain = reinterpret_cast<PF_FilterProc>(
        lumet::platform::findFunction(library.handle_, "EffectMain"));
    library.entries_.pluginDataEntry = reinterpret_cast<PluginDataEntryFunction2Ptr>(
        lumet::platform::findFunction(library.handle_, "PluginDataEntryFunction2"));
    if (!library.entries_.effectMain || !library.entries_.pluginDataEntry) {
        if (error) *error = path + " does not export EffectMain and PluginDataEntryFunction2";
        return PluginLibrary();  // unloads
    }
    return library;
}

PluginLibrary::PluginLibrary(PluginLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), entries_(std::exchange(other.entries_, {})) {}

PluginLibrary& PluginLibrary::operator=(PluginLibrary&& other) noexcept {
    if (this != &other) {
        lumet::platform::freeLibrary(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
        entries_ = std::exchange(other.entries_, {});
    }
    return *this;
}

PluginLibrary::~PluginLibrary() { lumet::platform::freeLibrary(handle_); }

}  // namespace refhost
