// Reading the PiPL resource from a plug-in file: Windows loads the file as an image resource
// (mapped, its code never run) and finds the resource by type, id and language. Other platforms'
// plug-ins carry no resources.
#include "refhost/pipl_resource.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace refhost {

#ifdef _WIN32

bool pluginResourcesSupported() { return true; }

bool readPiplResource(const std::string& pluginPath, std::vector<std::uint8_t>& bytes,
                      std::string& error) {
    HMODULE file = LoadLibraryExA(pluginPath.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!file) {
        error = "cannot open " + pluginPath + " to read its resources";
        return false;
    }
    bool found = false;
    const WORD language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033
    if (HRSRC resource = FindResourceExA(file, "PIPL", MAKEINTRESOURCEA(16000), language)) {
        const DWORD size = SizeofResource(file, resource);
        HGLOBAL loaded = LoadResource(file, resource);
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (data) {
            const auto* first = static_cast<const std::uint8_t*>(data);
            bytes.assign(first, first + size);
            found = true;
        }
    }
    FreeLibrary(file);
    if (!found) error = pluginPath + " has no PIPL 16000 resource in US English";
    return found;
}

#else

bool pluginResourcesSupported() { return false; }

bool readPiplResource(const std::string& pluginPath, std::vector<std::uint8_t>&,
                      std::string& error) {
    error = pluginPath + ": plug-in resources exist only on Windows";
    return false;
}

#endif

}  // namespace refhost
