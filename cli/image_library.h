// The lumet command's OpenImageIO side, in a library of its own (liblumet-oiio.so beside the
// command, or in lib/lumet where it is installed) that the command loads the first time it reads
// an image, writes anything but an sRGB PNG or checks a colour space. OpenImageIO brings some 250
// libraries whose loading alone takes a third of a second and over 100 MB, on every run; a text
// layer rendered to PNG needs none of them.
#pragma once
#include <string>

#include "image_io.h"

namespace lumet::cli {

// What the library does: readImage, writeImage and checkColourSpace of image_io.h.
struct ImageLibrary {
    bool (*readImage)(const std::string& path, Image& image, std::string& error,
                      const std::string& colourSpace);
    bool (*writeImage)(const std::string& path, Image& image, const WriteSettings& settings,
                       std::string& error);
    bool (*checkColourSpace)(const std::string& name, std::string& error);
};

inline constexpr const char* kImageLibraryFile = "liblumet-oiio.so";
// The library's one exported symbol: extern "C" const ImageLibrary* lumetImageLibrary().
inline constexpr const char* kImageLibraryEntry = "lumetImageLibrary";

// The library, loaded once for the process; null, with an error naming the file, when it cannot
// be found or loaded.
const ImageLibrary* imageLibrary(std::string& error);

}  // namespace lumet::cli
