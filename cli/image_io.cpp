// The Linux back end of image_io.h (cli/windows/ holds the Windows one). An sRGB PNG, the usual
// frame and layer, is written and read here with libpng (image_io_png.cpp); every other read,
// every other format and any colour conversion go to the OpenImageIO library (image_library.h),
// loaded on first use.
#include "image_io.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "image_library.h"
#include "plugin_session.h"

#ifdef LUMET_IMAGE_LIBRARY_LINKED
// Builds that link the library's sources in (the fuzzers) take its table directly.
extern "C" const lumet::cli::ImageLibrary* lumetImageLibrary();
#endif

namespace lumet::cli {

const ImageLibrary* imageLibrary(std::string& error) {
#ifdef LUMET_IMAGE_LIBRARY_LINKED
    (void)error;
    return lumetImageLibrary();
#else
    static std::once_flag once;
    static const ImageLibrary* library = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        std::filesystem::path path = findBesideProgram(kImageLibraryFile);
        if (path.empty()) path = executableFolder() / kImageLibraryFile;  // named in the error
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            failure = "cannot load " + path.string() + " (" + (why ? why : "unknown error") +
                      "), which reads and writes images";
            return;
        }
        using Entry = const ImageLibrary* (*)();
        const auto entry = reinterpret_cast<Entry>(dlsym(handle, kImageLibraryEntry));
        library = entry ? entry() : nullptr;
        if (!library) failure = path.string() + " has no " + kImageLibraryEntry;
    });
    if (!library) error = failure;
    return library;
#endif
}

namespace {

// The library for a file; null with the error naming the file when it cannot be loaded.
const ImageLibrary* imageLibraryFor(const std::string& path, std::string& error) {
    const ImageLibrary* library = imageLibrary(error);
    if (!library) error = path + ": " + error;
    return library;
}

}  // namespace

bool readImage(const std::string& path, Image& image, std::string& error,
               const std::string& colourSpace) {
    // A PNG in the effect's own colour (sRGB, with the library's built-in configuration: no
    // $OCIO) is read here, without loading the library (0.37 s and 130 MB of a process).
    if (colourSpace.empty() && !std::getenv("OCIO") && readPlainPng(path, image)) return true;
    const ImageLibrary* library = imageLibraryFor(path, error);
    return library && library->readImage(path, image, error, colourSpace);
}

bool writeImage(const std::string& path, Image& image, const WriteSettings& settings,
                std::string& error) {
    // A PNG in the effect's own colour (sRGB) needs no conversion: straight samples, written here.
    if (outputFormat(path) == FileFormat::Png && settings.colourSpace.empty()) {
        unpremultiply(image);
        return writePng(path, image, settings.bits == 8 ? 8 : 16, error, settings.pngLevel);
    }
    const ImageLibrary* library = imageLibraryFor(path, error);
    return library && library->writeImage(path, image, settings, error);
}

bool checkColourSpace(const std::string& name, std::string& error) {
    const ImageLibrary* library = imageLibrary(error);
    return library && library->checkColourSpace(name, error);
}

}  // namespace lumet::cli
