// The image-file parts of image_io.h that need no image library: the PGM and PFM files of the
// stage dump, the premultiplication of colour, the replacement of output files through a
// temporary file, the size checks of files read and the formats of files written.
#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <new>

#include "image_io.h"
#include "stdio_file.h"

namespace lumet::cli {

namespace {

bool writePfmFile(const std::string& temporary, const std::string& path, const float* pixels,
                  std::int32_t width, std::int32_t height, int channels, std::string& error) {
    File file(std::fopen(temporary.c_str(), "wb"));
    if (!file) {
        error = systemError(path, "cannot write");
        return false;
    }
    const bool little = std::endian::native == std::endian::little;
    std::fprintf(file.get(), "%s\n%d %d\n%s\n", channels == 3 ? "PF" : "Pf", width, height,
                 little ? "-1.0" : "1.0");
    const std::size_t rowCount = static_cast<std::size_t>(width) * channels;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        if (std::fwrite(pixels + rowCount * y, sizeof(float), rowCount, file.get()) != rowCount) {
            error = systemError(path, "write failed");
            return false;
        }
    }
    return closeWritten(file, path, error);
}

}  // namespace

bool writeThroughTemporary(const std::string& path, std::string& error,
                           const std::function<bool(const std::string& temporary)>& write) {
    // Unique among the processes and the threads writing beside `path`.
    static std::atomic<unsigned> serial{0};
#ifdef _WIN32
    const long processId = _getpid();
#else
    const long processId = static_cast<long>(getpid());
#endif
    const std::string temporary = path + ".lumet-" + std::to_string(processId) + "-" +
                                  std::to_string(serial.fetch_add(1)) + ".tmp";
    bool written = false;
    try {
        written = write(temporary);
    } catch (const std::bad_alloc&) {
        error = path + ": out of memory while writing";
    }
    if (!written) {
        std::remove(temporary.c_str());
        return false;
    }
#ifdef _WIN32
    // MoveFileEx replaces an existing file, which rename() on Windows refuses to do.
    if (!MoveFileExA(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = path + ": cannot replace the file (Windows error " +
                std::to_string(GetLastError()) + ")";
        std::remove(temporary.c_str());
        return false;
    }
#else
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = systemError(path, "cannot replace the file");
        std::remove(temporary.c_str());
        return false;
    }
#endif
    return true;
}

bool writePgm(const std::string& path, const std::uint8_t* pixels, std::int32_t width,
              std::int32_t height, std::string& error) {
    return writeThroughTemporary(path, error, [&](const std::string& temporary) {
        File file(std::fopen(temporary.c_str(), "wb"));
        if (!file) {
            error = systemError(path, "cannot write");
            return false;
        }
        std::fprintf(file.get(), "P5\n%d %d\n255\n", width, height);
        const std::size_t count = static_cast<std::size_t>(width) * height;
        if (std::fwrite(pixels, 1, count, file.get()) != count) {
            error = systemError(path, "write failed");
            return false;
        }
        return closeWritten(file, path, error);
    });
}

bool writePfm(const std::string& path, const float* pixels, std::int32_t width, std::int32_t height,
              int channels, std::string& error) {
    return writeThroughTemporary(path, error, [&](const std::string& temporary) {
        return writePfmFile(temporary, path, pixels, width, height, channels, error);
    });
}

bool checkDeclaredSize(const std::string& path, const char* format, std::uint64_t width,
                       std::uint64_t height, std::uint64_t fileBytes, std::string& error) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width == 0 || height == 0) {
        error = path + ": the image declares an empty size (" + size + ")";
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels) {
        error = path + ": the image declares " + size + " pixels, more than this command reads (" +
                std::to_string(kMaxImageSide) + " a side and " + std::to_string(kMaxImagePixels) +
                " pixels in all)";
        return false;
    }
    // Every pixel of a PNG takes at least one bit of the decompressed data, and deflate expands
    // its input at most 1032 times: a file too short to hold the declared pixels is refused
    // before the image's memory is taken for it.
    constexpr std::uint64_t kDeflateMaxRatio = 1032;
    if (std::string(format) == "png" && fileBytes != 0 &&
        (width * height + 7) / 8 > fileBytes * kDeflateMaxRatio) {
        error = path + ": the PNG declares " + size + " pixels, which its " +
                std::to_string(fileBytes) + " bytes cannot hold (truncated or corrupt)";
        return false;
    }
    return true;
}

std::optional<FileFormat> outputFormat(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "png") return FileFormat::Png;
    if (extension == "exr") return FileFormat::Exr;
#ifndef _WIN32
    if (extension == "tif" || extension == "tiff") return FileFormat::Tiff;
    if (extension == "jpg" || extension == "jpeg") return FileFormat::Jpeg;
    if (extension == "dpx") return FileFormat::Dpx;
#endif
    return {};
}

#ifdef _WIN32
const char* const kOutputExtensions = ".png, .exr";
#else
const char* const kOutputExtensions = ".png, .tif, .tiff, .exr, .jpg, .jpeg, .dpx";
#endif

bool knownExrCompression(const std::string& name) {
    for (const char* known :
         {"none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"}) {
        if (name == known) return true;
    }
    return false;
}

namespace {

// The straight colour of premultiplied colour c at alpha a (0 where a is not above 0).
inline float straightColour(float c, float a) { return a > 0.0f ? c / a : 0.0f; }

}  // namespace

Samples8 Samples8::owned(std::int32_t width, std::int32_t height) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    const std::shared_ptr<std::uint8_t> buffer(new std::uint8_t[rowBytes * height],
                                               std::default_delete<std::uint8_t[]>());
    Samples8 samples;
    samples.owner = buffer;
    samples.data = buffer.get();
    samples.stride = static_cast<std::ptrdiff_t>(rowBytes);
    return samples;
}

std::vector<std::uint8_t> pngSamples(const Image& image, int bits) {
    if (bits == 8 && !image.samples8.empty()) {
        const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4;
        std::vector<std::uint8_t> samples(rowBytes * image.height);
        for (std::int32_t y = 0; y < image.height; ++y)
            std::copy_n(image.samples8.row(y), rowBytes, samples.data() + y * rowBytes);
        return samples;
    }
    const std::size_t count = static_cast<std::size_t>(image.width) * image.height * 4;
    std::vector<std::uint8_t> samples(count * (bits == 16 ? 2 : 1));
    if (bits == 16) {
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned q = quantized(image.rgba[i], 65535.0f);
            samples[2 * i] = static_cast<std::uint8_t>(q >> 8);  // PNG stores big-endian
            samples[2 * i + 1] = static_cast<std::uint8_t>(q & 0xFF);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = static_cast<std::uint8_t>(quantized(image.rgba[i], 255.0f));
    }
    return samples;
}

void straightSamples8(const std::uint8_t* pixels, std::size_t count, std::uint8_t* rgba,
                      Order8 order) {
    // table[a * 256 + c]: colour byte c at alpha byte a, through the float path.
    static const std::vector<std::uint8_t> table = [] {
        std::vector<std::uint8_t> t(256 * 256);
        for (int a = 0; a < 256; ++a)
            for (int c = 0; c < 256; ++c)
                t[a * 256 + c] = static_cast<std::uint8_t>(quantized(
                    straightColour(static_cast<float>(c) / 255.0f, static_cast<float>(a) / 255.0f),
                    255.0f));
        return t;
    }();
    const int alpha = order == Order8::Argb ? 0 : 3, red = order == Order8::Argb ? 1 : 0;
    for (std::size_t i = 0; i < count; ++i, pixels += 4, rgba += 4) {
        const std::uint8_t a = pixels[alpha], r = pixels[red], g = pixels[red + 1],
                           b = pixels[red + 2];
        const std::uint8_t* row = table.data() + a * 256;
        rgba[0] = row[r];
        rgba[1] = row[g];
        rgba[2] = row[b];
        rgba[3] = static_cast<std::uint8_t>(quantized(static_cast<float>(a) / 255.0f, 255.0f));
    }
}

void premultiply(Image& image) {
    if (image.premultiplied) return;
    for (std::size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        const float a = image.rgba[i + 3];
        image.rgba[i] *= a;
        image.rgba[i + 1] *= a;
        image.rgba[i + 2] *= a;
    }
    image.premultiplied = true;
}

void unpremultiply(Image& image) {
    if (!image.premultiplied) return;
    for (std::size_t i = 0; i + 3 < image.rgba.size(); i += 4) {
        const float a = image.rgba[i + 3];
        for (int c = 0; c < 3; ++c) image.rgba[i + c] = straightColour(image.rgba[i + c], a);
    }
    image.premultiplied = false;
}

}  // namespace lumet::cli
