// imgdiff: compares two images of the same size channel by channel (R, G, B, A as stored: straight
// alpha in PNG, premultiplied in EXR) and prints the largest and the mean absolute difference in
// 8-bit steps (1/255), and how many channel values differ at all. With --max and --mean it fails
// (exit status 1) when a difference exceeds its bound.
//
// With --preview N, B is a preview rendered at 1/N of A's resolution: A is area-averaged by N
// (blocks from the top-left corner), both are flattened on black and rounded to 8 bits, and the
// mean and the 99th percentile of the channel differences over the whole frame (with --content,
// over the pixels where either image shows colour) are printed (bounded by --mean and --p99);
// --side-by-side writes the averaged full frame, the preview and four times their difference
// next to each other as an 8-bit PNG.
//
// Usage: imgdiff A B [--max STEPS] [--mean STEPS]
//        imgdiff FULL PREVIEW --preview N [--content] [--mean STEPS] [--p99 STEPS]
//                [--side-by-side OUT.png]
//   A and B are both PNG (8 or 16 bit, any colour type; libpng's simplified reader) or both EXR
//   (R, G, B, A read as 32-bit float).
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "png_levels.h"

namespace {

using Picture = lumet::pngfile::Levels;

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool readPng(const std::string& path, Picture& picture) {
    if (lumet::pngfile::readPngLevels(path, picture)) return true;
    std::fprintf(stderr, "imgdiff: %s: cannot read the PNG file\n", path.c_str());
    return false;
}

bool readExr(const std::string& path, Picture& picture) {
    try {
        Imf::InputFile file(path.c_str());
        const Imath::Box2i window = file.header().dataWindow();
        picture.width = window.max.x - window.min.x + 1;
        picture.height = window.max.y - window.min.y + 1;
        picture.rgba.assign(static_cast<std::size_t>(picture.width) * picture.height * 4, 0.0f);
        Imf::FrameBuffer frameBuffer;
        const char* names[4] = {"R", "G", "B", "A"};
        char* base =
            reinterpret_cast<char*>(picture.rgba.data()) -
            (static_cast<std::ptrdiff_t>(window.min.y) * picture.width + window.min.x) * 16;
        for (int c = 0; c < 4; ++c) {
            frameBuffer.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * 4, 16,
                                                    static_cast<std::size_t>(16) * picture.width));
        }
        file.setFrameBuffer(frameBuffer);
        file.readPixels(window.min.y, window.max.y);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "imgdiff: %s: %s\n", path.c_str(), e.what());
        return false;
    }
    return true;
}

bool read(const std::string& path, Picture& picture) {
    return endsWith(path, ".exr") ? readExr(path, picture) : readPng(path, picture);
}

// R, G, B flattened on black as 8-bit levels, from straight (PNG) or premultiplied (EXR) alpha.
std::vector<int> flattenedLevels(const Picture& picture, bool straight) {
    std::vector<int> levels;
    levels.reserve(static_cast<std::size_t>(picture.width) * picture.height * 3);
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        const float a = straight ? picture.rgba[i + 3] : 1.0f;
        for (int c = 0; c < 3; ++c) {
            const float v = std::clamp(picture.rgba[i + c] * a, 0.0f, 1.0f);
            levels.push_back(static_cast<int>(std::lround(v * 255.0f)));
        }
    }
    return levels;
}

// The full-resolution picture area-averaged by n, premultiplied.
Picture averagedDown(const Picture& full, int n, bool straight) {
    Picture out;
    out.width = (full.width + n - 1) / n;
    out.height = (full.height + n - 1) / n;
    out.rgba.assign(static_cast<std::size_t>(out.width) * out.height * 4, 0.0f);
    for (int y = 0; y < full.height; ++y) {
        for (int x = 0; x < full.width; ++x) {
            const float* p = &full.rgba[(static_cast<std::size_t>(y) * full.width + x) * 4];
            float* q = &out.rgba[(static_cast<std::size_t>(y / n) * out.width + x / n) * 4];
            const float a = straight ? p[3] : 1.0f;
            for (int c = 0; c < 3; ++c) q[c] += p[c] * a / static_cast<float>(n * n);
            q[3] += p[3] / static_cast<float>(n * n);
        }
    }
    return out;
}

// Writes reference | preview | four times their difference side by side as an 8-bit RGB PNG.
bool writeSideBySide(const std::string& path, int width, int height, const std::vector<int>& a,
                     const std::vector<int>& b) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * 3 * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
            for (int c = 0; c < 3; ++c) {
                const std::size_t row = static_cast<std::size_t>(y) * width * 3 * 3;
                rgb[row + x * 3 + c] = static_cast<unsigned char>(a[i + c]);
                rgb[row + (width + x) * 3 + c] = static_cast<unsigned char>(b[i + c]);
                rgb[row + (2 * width + x) * 3 + c] =
                    static_cast<unsigned char>(std::min(255, 4 * std::abs(a[i + c] - b[i + c])));
            }
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(3 * width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "imgdiff: cannot write %s: %s\n", path.c_str(), image.message);
        return false;
    }
    return true;
}

int comparePreview(const Picture& full, const Picture& preview, int n, bool straight,
                   bool contentOnly, double meanBound, double p99Bound,
                   const std::string& sideBySide) {
    const Picture reference = averagedDown(full, n, straight);
    if (reference.width != preview.width || reference.height != preview.height) {
        std::fprintf(stderr, "imgdiff: a 1/%d preview of %dx%d is %dx%d, not %dx%d\n", n,
                     full.width, full.height, reference.width, reference.height, preview.width,
                     preview.height);
        return 1;
    }
    const std::vector<int> a = flattenedLevels(reference, false);
    const std::vector<int> b = flattenedLevels(preview, straight);
    if (!sideBySide.empty() && !writeSideBySide(sideBySide, preview.width, preview.height, a, b))
        return 2;
    std::vector<int> differences;
    for (std::size_t i = 0; i < a.size(); i += 3) {
        if (contentOnly && a[i] + a[i + 1] + a[i + 2] + b[i] + b[i + 1] + b[i + 2] == 0) continue;
        for (int c = 0; c < 3; ++c) differences.push_back(std::abs(a[i + c] - b[i + c]));
    }
    if (differences.empty()) differences.push_back(0);
    std::sort(differences.begin(), differences.end());
    double sum = 0;
    for (int d : differences) sum += d;
    const double mean = sum / static_cast<double>(differences.size());
    const int p99 = differences[(differences.size() - 1) * 99 / 100];
    std::printf("1/%d preview %dx%d: mean %.3f, p99 %d, max %d (8-bit levels over %zu %s)\n", n,
                preview.width, preview.height, mean, p99, differences.back(),
                differences.size() / 3, contentOnly ? "pixels with colour" : "pixels");
    const bool ok = !(meanBound >= 0 && mean > meanBound) && !(p99Bound >= 0 && p99 > p99Bound);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    double maxBound = -1.0, meanBound = -1.0, p99Bound = -1.0;
    int preview = 0;
    bool contentOnly = false;
    std::string sideBySide;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--max" || arg == "--mean") && i + 1 < argc) {
            (arg == "--max" ? maxBound : meanBound) = std::atof(argv[++i]);
        } else if (arg == "--content") {
            contentOnly = true;
        } else if (arg == "--p99" && i + 1 < argc) {
            p99Bound = std::atof(argv[++i]);
        } else if (arg == "--side-by-side" && i + 1 < argc) {
            sideBySide = argv[++i];
        } else if (arg == "--preview" && i + 1 < argc) {
            preview = std::atoi(argv[++i]);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2 || preview < 0 || preview > 64) {
        std::fprintf(
            stderr,
            "Usage: imgdiff A B [--max STEPS] [--mean STEPS]\n"
            "       imgdiff FULL PREVIEW --preview N [--content] [--mean STEPS] [--p99 STEPS]\n"
            "               [--side-by-side OUT.png]\n");
        return 2;
    }
    Picture a, b;
    if (!read(files[0], a) || !read(files[1], b)) return 2;
    if (preview > 0)
        return comparePreview(a, b, preview, !endsWith(files[0], ".exr"), contentOnly, meanBound,
                              p99Bound, sideBySide);
    if (a.width != b.width || a.height != b.height) {
        std::fprintf(stderr, "imgdiff: sizes differ: %dx%d and %dx%d\n", a.width, a.height, b.width,
                     b.height);
        return 1;
    }
    double maxDifference = 0.0, sum = 0.0;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        const double d = std::fabs(static_cast<double>(a.rgba[i]) - b.rgba[i]);
        if (!(d == 0.0)) ++differing;  // NaN counts as a difference
        maxDifference = std::max(maxDifference, std::isnan(d) ? INFINITY : d);
        sum += std::isnan(d) ? 1.0 : d;
    }
    const double maxSteps = maxDifference * 255.0;
    const double meanSteps = sum / static_cast<double>(a.rgba.size()) * 255.0;
    std::printf("%dx%d: max %.4g, mean %.4g (8-bit steps), %zu of %zu channel values differ\n",
                a.width, a.height, maxSteps, meanSteps, differing, a.rgba.size());
    bool ok = true;
    if (maxBound >= 0.0 && maxSteps > maxBound) {
        std::printf("imgdiff: max %.4f exceeds %.4f\n", maxSteps, maxBound);
        ok = false;
    }
    if (meanBound >= 0.0 && meanSteps > meanBound) {
        std::printf("imgdiff: mean %.5f exceeds %.5f\n", meanSteps, meanBound);
        ok = false;
    }
    return ok ? 0 : 1;
}
