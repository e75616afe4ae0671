// libFuzzer target: the PNG reader of the lumet command on any file. It must read the image or
// refuse it with an error; a read image has its declared size and values in 0..1.
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
    if (!lumet::cli::readPng(path, image, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (image.width < 1 || image.height < 1 ||
        image.rgba.size() != static_cast<std::size_t>(image.width) * image.height * 4)
        std::abort();
    for (float v : image.rgba)
        if (!(v >= 0.0f && v <= 1.0f)) std::abort();
    return 0;
}
