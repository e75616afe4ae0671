// libFuzzer target: the image reader of the lumet command on any file named .png (OpenImageIO
// also tries the other formats on it). It must read the image or refuse it with an error; a read
// image has its declared size.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image_io.h"

namespace {
std::string path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    path = "/tmp/lumet-png-fuzz-" + std::to_string(getpid()) + ".png";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    lumet::cli::Image image;
    std::string error;
    if (!lumet::cli::readImage(path, image, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (image.width < 1 || image.height < 1 ||
        image.rgba.size() != static_cast<std::size_t>(image.width) * image.height * 4)
        std::abort();
    return 0;
}
