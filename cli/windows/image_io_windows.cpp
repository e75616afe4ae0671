// The Windows back end of image_io.h, for a target without libpng or OpenEXR: PNG decoding with
// stb_image, PNG encoding written here chunk by chunk (signature, IHDR, one zlib-compressed IDAT
// with a per-row filter chosen by the minimum-sum-of-absolute-differences heuristic, IEND; CRCs
// by zlib), and OpenEXR as an uncompressed single-part scanline file of FLOAT channels.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image_io.h"
#include "stdio_file.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#include <stb_image.h>

namespace lumet::cli {

// The readers and writers behind readImage and writeImage.
bool readPng(const std::string& path, Image& image, std::string& error);
bool writeExr(const std::string& path, const Image& image, std::string& error);

namespace {

struct StbFree {
    void operator()(void* pixels) const { stbi_image_free(pixels); }
};

void putBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// Appends one PNG chunk: length, type, data and the CRC of type and data.
void putChunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data,
              std::size_t size) {
    putBigEndian32(out, static_cast<std::uint32_t>(size));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + typeAt, static_cast<uInt>(size + 4));
    putBigEndian32(out, static_cast<std::uint32_t>(crc));
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Filters one row (PNG filter types 0 None .. 4 Paeth) into `out`, which starts with the type
// byte. `previous` is the unfiltered row above (zeros for the first row); `stride` is the bytes
// per pixel.
void filterRow(int type, const std::uint8_t* row, const std::uint8_t* previous, std::size_t bytes,
               std::size_t stride, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(type);
    for (std::size_t i = 0; i < bytes; ++i) {
        const int a = i >= stride ? row[i - stride] : 0;
        const int b = previous[i];
        const int c = i >= stride ? previous[i - stride] : 0;
        int predicted = 0;
        switch (type) {
            case 1:
                predicted = a;
                break;
            case 2:
                predicted = b;
                break;
            case 3:
                predicted = (a + b) / 2;
                break;
            case 4:
                predicted = paeth(a, b, c);
                break;
            default:
                break;
        }
        out[i + 1] = static_cast<std::uint8_t>(row[i] - predicted);
    }
}

// The filtered rows of the image, each row with the filter whose output bytes, read as signed,
// sum to the least magnitude (the usual adaptive filter choice: it keeps zlib's input small).
std::vector<std::uint8_t> filterRows(const std::vector<std::uint8_t>& pixels, std::size_t rowBytes,
                                     std::int32_t height, std::size_t stride, int fixedType) {
    std::vector<std::uint8_t> filtered((rowBytes + 1) * static_cast<std::size_t>(height));
    std::vector<std::uint8_t> zeros(rowBytes, 0), candidate(rowBytes + 1);
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels.data() + static_cast<std::size_t>(y) * rowBytes;
        const std::uint8_t* previous = y > 0 ? row - rowBytes : zeros.data();
        std::uint8_t* out = filtered.data() + static_cast<std::size_t>(y) * (rowBytes + 1);
        if (fixedType >= 0) {
            filterRow(fixedType, row, previous, rowBytes, stride, out);
            continue;
        }
        std::uint64_t best = UINT64_MAX;
        for (int type = 0; type <= 4; ++type) {
            filterRow(type, row, previous, rowBytes, stride, candidate.data());
            std::uint64_t sum = 0;
            for (std::size_t i = 1; i <= rowBytes; ++i) {
                sum += static_cast<std::uint64_t>(std::abs(static_cast<std::int8_t>(candidate[i])));
            }
            if (sum < best) {
                best = sum;
                std::copy(candidate.begin(), candidate.end(), out);
            }
        }
    }
    return filtered;
}

// Writes the file through a temporary one beside it, so that a failed write leaves any earlier
// file at `path` as it was.
bool writeAll(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
    return writeThroughTemporary(path, error, [&](const std::string& temporary) {
        File file(std::fopen(temporary.c_str(), "wb"));
        if (!file) {
            error = systemError(path, "cannot write");
            return false;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
            error = systemError(path, "write failed");
            return false;
        }
        return closeWritten(file, path, error);
    });
}

template <typename T>
void putLittleEndian(std::vector<std::uint8_t>& out, T value) {
    std::uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));  // the targets are little-endian, as the format is
    for (std::uint8_t byte : bytes) out.push_back(byte);
}

// One header attribute: name, type name, size and the value's bytes.
void putAttribute(std::vector<std::uint8_t>& out, const char* name, const char* type,
                  const std::vector<std::uint8_t>& value) {
    out.insert(out.end(), name, name + std::strlen(name) + 1);
    out.insert(out.end(), type, type + std::strlen(type) + 1);
    putLittleEndian<std::int32_t>(out, static_cast<std::int32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

}  // namespace

bool readPng(const std::string& path, Image& image, std::string& error) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = systemError(path, "cannot open");
        return false;
    }
    unsigned char signature[8] = {};
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (std::fread(signature, 1, 8, file.get()) != 8 ||
        std::memcmp(signature, kSignature, 8) != 0) {
        error = path + ": not a PNG file";
        return false;
    }
    // The size the header declares, checked before stb_image looks further (it refuses sizes
    // of its own with a less telling reason).
    unsigned char header[16] = {};
    static const unsigned char kHeaderChunk[4] = {'I', 'H', 'D', 'R'};
    if (std::fread(header, 1, 16, file.get()) == 16 &&
        std::memcmp(header + 4, kHeaderChunk, 4) == 0) {
        auto bigEndian = [](const unsigned char* b) {
            return std::uint64_t(b[0]) << 24 | std::uint64_t(b[1]) << 16 |
                   std::uint64_t(b[2]) << 8 | std::uint64_t(b[3]);
        };
        std::fseek(file.get(), 0, SEEK_END);
        const long fileBytes = std::ftell(file.get());
        const std::uint64_t declaredWidth = bigEndian(header + 8);
        const std::uint64_t declaredHeight = bigEndian(header + 12);
        if (declaredWidth > 0 && declaredHeight > 0 &&
            !checkDeclaredSize(path, "png", declaredWidth, declaredHeight,
                               fileBytes > 0 ? std::uint64_t(fileBytes) : 0, error)) {
            return false;
        }
    }
    std::rewind(file.get());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_file(file.get(), &width, &height, &channels)) {
        error = path + ": corrupt or unsupported PNG (" + stbi_failure_reason() + ")";
        return false;
    }
    const bool sixteen = stbi_is_16_bit_from_file(file.get()) != 0;
    // Four channels requested: grey is copied to R, G and B, and an image without alpha (or
    // transparency chunk) comes out opaque.
    const std::size_t count = static_cast<std::size_t>(width) * height * 4;
    image.rgba.resize(count);
    if (sixteen) {
        std::unique_ptr<stbi_us, StbFree> pixels(
            stbi_load_from_file_16(file.get(), &width, &height, &channels, 4));
        if (!pixels) {
            error = path + ": corrupt or unsupported PNG (" + stbi_failure_reason() + ")";
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) image.rgba[i] = pixels.get()[i] / 65535.0f;
    } else {
        std::unique_ptr<stbi_uc, StbFree> pixels(
            stbi_load_from_file(file.get(), &width, &height, &channels, 4));
        if (!pixels) {
            error = path + ": corrupt or unsupported PNG (" + stbi_failure_reason() + ")";
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) image.rgba[i] = pixels.get()[i] / 255.0f;
    }
    image.width = width;
    image.height = height;
    image.premultiplied = false;
    image.sourceBits = sixteen ? 16 : 8;
    return true;
}

bool writePng(const std::string& path, const Image& image, int bits, std::string& error,
              int level) {
    if (bits != 8 && bits != 16) {
        error = path + ": PNG bit depth must be 8 or 16";
        return false;
    }
    if (image.width < 1 || image.height < 1) {
        error = path + ": empty image";
        return false;
    }
    const std::size_t stride = bits == 16 ? 8 : 4;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * stride;
    const std::vector<std::uint8_t> pixels = pngSamples(image, bits);
    // The fast levels filter every row the same way (none at 0, "up" from 1 to 3).
    const int fixedType = level == 0 ? 0 : level >= 1 && level <= 3 ? 2 : -1;
    const std::vector<std::uint8_t> filtered =
        filterRows(pixels, rowBytes, image.height, stride, fixedType);
    if (filtered.size() > ULONG_MAX / 2) {
        error = path + ": image too large for one PNG data stream";
        return false;
    }
    uLongf compressedSize = compressBound(static_cast<uLong>(filtered.size()));
    std::vector<std::uint8_t> compressed(compressedSize);
    if (compress2(compressed.data(), &compressedSize, filtered.data(),
                  static_cast<uLong>(filtered.size()), level) != Z_OK) {
        error = path + ": PNG compression failed";
        return false;
    }

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.reserve(compressedSize + 64);
    std::vector<std::uint8_t> header;
    putBigEndian32(header, static_cast<std::uint32_t>(image.width));
    putBigEndian32(header, static_cast<std::uint32_t>(image.height));
    header.push_back(static_cast<std::uint8_t>(bits));
    header.push_back(6);  // colour type RGBA
    header.push_back(0);  // deflate
    header.push_back(0);  // adaptive filtering
    header.push_back(0);  // not interlaced
    putChunk(out, "IHDR", header.data(), header.size());
    putChunk(out, "IDAT", compressed.data(), compressedSize);
    putChunk(out, "IEND", nullptr, 0);
    return writeAll(path, out, error);
}

bool writeExr(const std::string& path, const Image& image, std::string& error) {
    if (image.width < 1 || image.height < 1) {
        error = path + ": empty image";
        return false;
    }
    std::vector<std::uint8_t> out = {0x76, 0x2F, 0x31, 0x01};  // magic number
    putLittleEndian<std::int32_t>(out, 2);  // version 2, single-part scanline, short names

    // Channels in the alphabetical order the format stores them: A, B, G, R; 32-bit float.
    const char* const names[4] = {"A", "B", "G", "R"};
    const int sourceChannel[4] = {3, 2, 1, 0};
    std::vector<std::uint8_t> channels;
    for (const char* name : names) {
        channels.insert(channels.end(), name, name + std::strlen(name) + 1);
        putLittleEndian<std::int32_t>(channels, 2);     // FLOAT
        channels.insert(channels.end(), {0, 0, 0, 0});  // pLinear, reserved
        putLittleEndian<std::int32_t>(channels, 1);     // x sampling
        putLittleEndian<std::int32_t>(channels, 1);     // y sampling
    }
    channels.push_back(0);
    std::vector<std::uint8_t> window;
    for (std::int32_t v : {0, 0, image.width - 1, image.height - 1}) {
        putLittleEndian<std::int32_t>(window, v);
    }
    std::vector<std::uint8_t> one, centre;
    putLittleEndian<float>(one, 1.0f);
    putLittleEndian<float>(centre, 0.0f);
    putLittleEndian<float>(centre, 0.0f);
    putAttribute(out, "channels", "chlist", channels);
    putAttribute(out, "compression", "compression", {0});  // none
    putAttribute(out, "dataWindow", "box2i", window);
    putAttribute(out, "displayWindow", "box2i", window);
    putAttribute(out, "lineOrder", "lineOrder", {0});  // increasing y
    putAttribute(out, "pixelAspectRatio", "float", one);
    putAttribute(out, "screenWindowCenter", "v2f", centre);
    putAttribute(out, "screenWindowWidth", "float", one);
    out.push_back(0);  // end of header

    // Offset table (one scanline per chunk without compression), then the chunks: y, the byte
    // count, and each channel's row of floats.
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 4 * sizeof(float);
    const std::size_t chunkBytes = 8 + rowBytes;
    const std::size_t tableAt = out.size();
    const std::size_t firstChunk = tableAt + 8 * static_cast<std::size_t>(image.height);
    out.reserve(firstChunk + chunkBytes * image.height);
    for (std::int32_t y = 0; y < image.height; ++y) {
        putLittleEndian<std::uint64_t>(out, firstChunk + chunkBytes * static_cast<std::size_t>(y));
    }
    for (std::int32_t y = 0; y < image.height; ++y) {
        putLittleEndian<std::int32_t>(out, y);
        putLittleEndian<std::int32_t>(out, static_cast<std::int32_t>(rowBytes));
        const float* row = image.rgba.data() + static_cast<std::size_t>(y) * image.width * 4;
        for (int c : sourceChannel) {
            for (std::int32_t x = 0; x < image.width; ++x)
                putLittleEndian<float>(out, row[4 * x + c]);
        }
    }
    return writeAll(path, out, error);
}

bool readImage(const std::string& path, Image& image, std::string& error,
               const std::string& colourSpace) {
    if (!colourSpace.empty() && !checkColourSpace(colourSpace, error)) return false;
    return readPng(path, image, error);
}

// PNG straight, OpenEXR premultiplied 32-bit float; the colour goes out as the effect gives it.
bool writeImage(const std::string& path, Image& image, const WriteSettings& settings,
                std::string& error) {
    const std::optional<FileFormat> format = outputFormat(path);
    if (format == FileFormat::Exr) {
        premultiply(image);
        return writeExr(path, image, error);
    }
    if (format == FileFormat::Png) {
        unpremultiply(image);
        return writePng(path, image, settings.bits == 8 ? 8 : 16, error, settings.pngLevel);
    }
    error = path + ": lumet writes no such file (it writes " + kOutputExtensions + ")";
    return false;
}

bool checkColourSpace(const std::string& name, std::string& error) {
    if (name == "sRGB" || name == "srgb") return true;
    error = "\"" + name + "\": the Windows build converts no colour (its only space is sRGB)";
    return false;
}

}  // namespace lumet::cli
