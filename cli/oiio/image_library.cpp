// The OpenImageIO side of the lumet command (image_library.h): every file read, every format
// but an sRGB PNG written, colour converted at the edges through OpenImageIO's colour
// configuration (OpenColorIO's, with $OCIO).
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "colour.h"
#include "image_io.h"
#include "image_library.h"
#include "stdio_file.h"

namespace lumet::cli {

namespace {

// The indices of a file's red, green, blue and alpha channels: by name (R, G, B and A, or Y for
// grey), else by position (grey, grey + alpha, RGB, RGBA); alpha -1 when there is none.
struct Channels {
    int rgb[3] = {0, 0, 0};
    int alpha = -1;
};

int channelNamed(const OIIO::ImageSpec& spec, const char* name) {
    for (int c = 0; c < spec.nchannels; ++c) {
        if (spec.channel_name(c) == name) return c;
    }
    return -1;
}

Channels channelsOf(const OIIO::ImageSpec& spec) {
    Channels channels;
    const int r = channelNamed(spec, "R"), g = channelNamed(spec, "G"), b = channelNamed(spec, "B");
    const int y = channelNamed(spec, "Y");
    const bool named = (r >= 0 && g >= 0 && b >= 0) || y >= 0;
    if (r >= 0 && g >= 0 && b >= 0) {
        channels = {{r, g, b}, -1};
    } else if (y >= 0) {
        channels = {{y, y, y}, -1};
    } else if (spec.nchannels >= 3) {
        channels = {{0, 1, 2}, -1};
    }
    channels.alpha = spec.alpha_channel >= 0 && spec.alpha_channel < spec.nchannels
                         ? spec.alpha_channel
                         : channelNamed(spec, "A");
    if (channels.alpha < 0 && !named && (spec.nchannels == 2 || spec.nchannels >= 4)) {
        channels.alpha = spec.nchannels == 2 ? 1 : 3;
    }
    return channels;
}

// OpenImageIO's message on one line.
std::string libraryMessage(const std::string& message) {
    std::string line;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find('\n', start);
        if (end == std::string::npos) end = message.size();
        if (end > start) line += (line.empty() ? "" : "; ") + message.substr(start, end - start);
        start = end + 1;
    }
    return line.empty() ? "unknown error" : line;
}

// Standard error sent to /dev/null while a file is read: OpenImageIO's PNG reader lets libpng
// print its errors there, and the same text comes back in the library's error message. Files
// are read before any other thread starts.
class QuietStandardError {
public:
    QuietStandardError() : saved_(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) close(null);
    }
    ~QuietStandardError() {
        if (saved_ < 0) return;
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_;
};

// Copies `columns` pixels of each of a band's rows (`rowSamples` apart, `stride` samples a pixel)
// into the image's RGBA floats: integers scaled to 0..1, a missing alpha opaque.
template <typename T>
void placeRows(const T* band, int rows, int columns, std::size_t rowSamples, int stride,
               const int rgb[3], int alpha, float* out, std::size_t outRowFloats) {
    constexpr float scale = std::is_same_v<T, float> ? 1.0f : float(std::numeric_limits<T>::max());
    for (int y = 0; y < rows; ++y) {
        const T* in = band + static_cast<std::size_t>(y) * rowSamples;
        float* o = out + static_cast<std::size_t>(y) * outRowFloats;
        for (int x = 0; x < columns; ++x, in += stride, o += 4) {
            for (int c = 0; c < 3; ++c) o[c] = static_cast<float>(in[rgb[c]]) / scale;
            o[3] = alpha >= 0 ? static_cast<float>(in[alpha]) / scale : 1.0f;
        }
    }
}

// Reads the file's pixels that fall in its display window into `image` (of that window's size,
// transparent where the file has no pixels).
bool readPixels(OIIO::ImageInput& in, const std::string& path, Image& image, std::string& error) {
    const OIIO::ImageSpec& spec = in.spec();
    const Channels channels = channelsOf(spec);
    const int* used = channels.rgb;
    int chBegin = std::min({used[0], used[1], used[2]});
    int chEnd = std::max({used[0], used[1], used[2]}) + 1;
    if (channels.alpha >= 0) {
        chBegin = std::min(chBegin, channels.alpha);
        chEnd = std::max(chEnd, channels.alpha + 1);
    }
    const int stride = chEnd - chBegin;
    int rgb[3];
    for (int c = 0; c < 3; ++c) rgb[c] = used[c] - chBegin;
    const int alpha = channels.alpha >= 0 ? channels.alpha - chBegin : -1;
    // 8 and 16-bit samples are scaled here, as v / 255 and v / 65535; the rest come as floats.
    const bool mixed = !spec.channelformats.empty();
    const OIIO::TypeDesc type = !mixed && spec.format == OIIO::TypeDesc::UINT8 ? OIIO::TypeDesc::UINT8
                                : !mixed && spec.format == OIIO::TypeDesc::UINT16
                                    ? OIIO::TypeDesc::UINT16
                                    : OIIO::TypeDesc::FLOAT;
    // The file's rows and columns that land in the display window.
    const int offsetX = spec.x - spec.full_x, offsetY = spec.y - spec.full_y;
    const int x0 = std::max(0, -offsetX), x1 = std::min(spec.width, image.width - offsetX);
    const int y0 = std::max(0, -offsetY), y1 = std::min(spec.height, image.height - offsetY);
    if (x0 >= x1 || y0 >= y1) return true;
    const std::size_t rowBytes = static_cast<std::size_t>(spec.width) * stride * type.size();
    const int bandRows = static_cast<int>(std::max<std::size_t>(1, (std::size_t(1) << 24) / rowBytes));
    std::vector<unsigned char> band(rowBytes * static_cast<std::size_t>(std::min(bandRows, y1 - y0)));
    for (int y = y0; y < y1; y += bandRows) {
        const int rows = std::min(bandRows, y1 - y);
        if (!in.read_scanlines(0, 0, spec.y + y, spec.y + y + rows, 0, chBegin, chEnd, type,
                               band.data())) {
            error = path + ": cannot read the pixels (" + libraryMessage(in.geterror()) + ")";
            return false;
        }
        float* out = image.rgba.data() +
                     (static_cast<std::size_t>(offsetY + y) * image.width + offsetX + x0) * 4;
        const std::size_t outRow = static_cast<std::size_t>(image.width) * 4;
        const std::size_t skip = static_cast<std::size_t>(x0) * stride;
        const int columns = x1 - x0;
        const std::size_t rowSamples = static_cast<std::size_t>(spec.width) * stride;
        if (type == OIIO::TypeDesc::UINT8) {
            placeRows(band.data() + skip, rows, columns, rowSamples, stride, rgb, alpha, out,
                      outRow);
        } else if (type == OIIO::TypeDesc::UINT16) {
            placeRows(reinterpret_cast<const std::uint16_t*>(band.data()) + skip, rows, columns,
                      rowSamples, stride, rgb, alpha, out, outRow);
        } else {
            placeRows(reinterpret_cast<const float*>(band.data()) + skip, rows, columns,
                      rowSamples, stride, rgb, alpha, out, outRow);
        }
    }
    return true;
}

}  // namespace

bool readLibraryImage(const std::string& path, Image& image, std::string& error,
                      const std::string& colourSpace) {
    if (!File(std::fopen(path.c_str(), "rb"))) {
        error = systemError(path, "cannot open");
        return false;
    }
    const QuietStandardError quiet;
    // Straight alpha stays straight (OpenImageIO would premultiply it); the file says which.
    OIIO::ImageSpec hints;
    hints.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::open(path, &hints);
    if (!in) {
        error = path + ": cannot read the image (" + libraryMessage(OIIO::geterror()) + ")";
        return false;
    }
    const OIIO::ImageSpec& spec = in->spec();
    const int width = spec.full_width > 0 ? spec.full_width : spec.width;
    const int height = spec.full_height > 0 ? spec.full_height : spec.height;
    std::error_code sizeError;
    const std::uint64_t fileBytes = std::filesystem::file_size(path, sizeError);
    auto side = [](int n) { return static_cast<std::uint64_t>(std::max(0, n)); };
    if (!checkDeclaredSize(path, in->format_name(), side(width), side(height), 0, error) ||
        !checkDeclaredSize(path, in->format_name(), side(spec.width), side(spec.height),
                           sizeError ? 0 : fileBytes, error)) {
        return false;
    }
    const Channels channels = channelsOf(spec);
    try {
        image.rgba.assign(static_cast<std::size_t>(width) * height * 4, 0.0f);
    } catch (const std::bad_alloc&) {
        error = path + ": not enough memory to read the image";
        return false;
    }
    image.width = width;
    image.height = height;
    image.samples8.clear();
    image.sourceBits =
        spec.get_int_attribute("oiio:BitsPerSample", static_cast<int>(spec.format.size() * 8));
    if (!readPixels(*in, path, image, error)) return false;
    // DPX says nothing of its alpha: it is taken as straight, as lumet writes it.
    image.premultiplied = channels.alpha >= 0 &&
                          spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0 &&
                          std::string(in->format_name()) != "dpx";
    in->close();
    unpremultiply(image);

    // The colour space: the one asked for, else what the file says if the configuration knows
    // it, else what the format holds.
    const std::string fallback =
        spec.format.is_floating_point() ? linearColourSpace() : workingColourSpace();
    std::string from = fallback;
    bool fromFile = false;
    if (!colourSpace.empty()) {
        if (!resolveColourSpace(colourSpace, from, error)) {
            error = path + ": " + error;
            return false;
        }
    } else {
        std::string ignored;
        const std::string said = spec.get_string_attribute("oiio:ColorSpace");
        fromFile = !said.empty() && resolveColourSpace(said, from, ignored);
        if (!fromFile) from = fallback;
    }
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    if (!convertColour(image.rgba.data(), pixels, from, workingColourSpace(), error)) {
        // A name the file gives that the configuration cannot convert: its format's instead.
        if (!fromFile ||
            !convertColour(image.rgba.data(), pixels, fallback, workingColourSpace(), error)) {
            error = path + ": " + error;
            return false;
        }
    }
    return true;
}

namespace {

// The samples of a file of 8 or 16 bits (native byte order) or floats: `channels` of the image's
// RGBA values each pixel, integers clamped to 0..1 and rounded.
std::vector<unsigned char> fileSamples(const Image& image, OIIO::TypeDesc type, int channels) {
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    std::vector<unsigned char> samples(pixels * channels * type.size());
    for (std::size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < channels; ++c) {
            const float v = image.rgba[i * 4 + c];
            const std::size_t at = i * channels + c;
            if (type == OIIO::TypeDesc::UINT8) {
                samples[at] = static_cast<unsigned char>(quantized(v, 255.0f));
            } else if (type == OIIO::TypeDesc::UINT16) {
                reinterpret_cast<std::uint16_t*>(samples.data())[at] =
                    static_cast<std::uint16_t>(quantized(v, 65535.0f));
            } else {
                reinterpret_cast<float*>(samples.data())[at] = v;
            }
        }
    }
    return samples;
}

// OpenImageIO's name of a format it writes here.
const char* libraryFormat(FileFormat format) {
    switch (format) {
        case FileFormat::Tiff:
            return "tiff";
        case FileFormat::Exr:
            return "openexr";
        case FileFormat::Jpeg:
            return "jpeg";
        case FileFormat::Dpx:
            return "dpx";
        default:
            return "png";
    }
}

}  // namespace

bool writeLibraryImage(const std::string& path, Image& image, const WriteSettings& settings,
                       std::string& error) {
    const std::optional<FileFormat> format = outputFormat(path);
    if (!format) {
        error = path + ": lumet writes no such file (it writes " + kOutputExtensions + ")";
        return false;
    }
    const bool floatTiff = *format == FileFormat::Tiff && settings.bits == 32;
    const bool linearFile = *format == FileFormat::Exr || floatTiff;
    const std::string working = workingColourSpace();
    std::string to = linearFile ? linearColourSpace() : working;
    if (!settings.colourSpace.empty() && !resolveColourSpace(settings.colourSpace, to, error)) {
        error = path + ": " + error;
        return false;
    }
    // A frame taken straight to 8-bit PNG samples goes out as it is unless its colour changes.
    if (!image.samples8.empty() && (to != working || *format != FileFormat::Png)) {
        const std::size_t rowValues = static_cast<std::size_t>(image.width) * 4;
        image.rgba.resize(rowValues * image.height);
        for (std::int32_t y = 0; y < image.height; ++y) {
            const std::uint8_t* row = image.samples8.row(y);
            for (std::size_t i = 0; i < rowValues; ++i)
                image.rgba[y * rowValues + i] = static_cast<float>(row[i]) / 255.0f;
        }
        image.samples8.clear();
        image.premultiplied = false;
    }
    unpremultiply(image);  // colour is converted straight
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    if (image.samples8.empty() && !convertColour(image.rgba.data(), pixels, working, to, error)) {
        error = path + ": " + error;
        return false;
    }
    if (*format == FileFormat::Png) {
        return writePng(path, image, settings.bits == 8 ? 8 : 16, error, settings.pngLevel);
    }

    // OpenEXR and float TIFF hold premultiplied colour, JPEG the colour over black.
    if (linearFile || *format == FileFormat::Jpeg) premultiply(image);
    OIIO::TypeDesc type = settings.bits == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
    if (*format == FileFormat::Exr) {
        type = settings.exrFloat ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::HALF;
    } else if (floatTiff) {
        type = OIIO::TypeDesc::FLOAT;
    } else if (*format == FileFormat::Jpeg) {
        type = OIIO::TypeDesc::UINT8;
    }
    const int channels = *format == FileFormat::Jpeg ? 3 : 4;
    OIIO::ImageSpec spec(image.width, image.height, channels, type);
    spec.attribute("oiio:ColorSpace", to);
    // OpenImageIO stamps OpenEXR and TIFF files with the time they are written; with
    // SOURCE_DATE_EPOCH set (reproducible outputs, scripts/compare-renders.sh) they get that time.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        const std::time_t seconds = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
        std::tm utc{};
        char stamp[32] = "";
        if (gmtime_r(&seconds, &utc)) std::strftime(stamp, sizeof stamp, "%Y:%m:%d %H:%M:%S", &utc);
        spec.attribute("DateTime", stamp);
    }
    if (channels == 4 && !image.premultiplied) spec.attribute("oiio:UnassociatedAlpha", 1);
    // Full-resolution chroma: the effect's highlights are thin, and 4:2:0 smears their colour.
    if (*format == FileFormat::Jpeg) spec.attribute("jpeg:subsampling", "4:4:4");
    if (*format == FileFormat::Exr) {
        spec.attribute("compression", settings.exrCompression);
        if (!std::getenv("OCIO")) {
            // The primaries and white of sRGB and of the built-in linear space (Rec. 709, D65).
            const float rec709[8] = {0.64f, 0.33f, 0.30f, 0.60f, 0.15f, 0.06f, 0.3127f, 0.3290f};
            spec.attribute("chromaticities", OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, 8), rec709);
        }
        if (image.frameWidth > 0 && image.frameHeight > 0) {
            spec.x = -image.frameX;
            spec.y = -image.frameY;
            spec.full_x = spec.full_y = 0;
            spec.full_width = image.frameWidth;
            spec.full_height = image.frameHeight;
        }
    }
    // Floats go to the library as they are (it rounds them to half); integers are rounded here
    // as the PNG writer rounds them.
    const OIIO::TypeDesc given = type.is_floating_point() ? OIIO::TypeDesc::FLOAT : type;
    const std::vector<unsigned char> samples = fileSamples(image, given, channels);
    return writeThroughTemporary(path, error, [&](const std::string& temporary) {
        std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(libraryFormat(*format));
        if (!out) {
            error = path + ": cannot write (" + libraryMessage(OIIO::geterror()) + ")";
            return false;
        }
        if (!out->open(temporary, spec) || !out->write_image(given, samples.data()) ||
            !out->close()) {
            error = path + ": cannot write (" + libraryMessage(out->geterror()) + ")";
            return false;
        }
        return true;
    });
}

bool checkLibraryColourSpace(const std::string& name, std::string& error) {
    // Known, and convertible both ways: tried on one pixel.
    std::string resolved;
    float pixel[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    return resolveColourSpace(name, resolved, error) &&
           convertColour(pixel, 1, resolved, workingColourSpace(), error) &&
           convertColour(pixel, 1, workingColourSpace(), resolved, error);
}

}  // namespace lumet::cli

extern "C" __attribute__((visibility("default"))) const lumet::cli::ImageLibrary*
lumetImageLibrary() {
    static const lumet::cli::ImageLibrary library{lumet::cli::readLibraryImage,
                                                  lumet::cli::writeLibraryImage,
                                                  lumet::cli::checkLibraryColourSpace};
    return &library;
}
