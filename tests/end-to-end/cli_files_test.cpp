// lumet render with files that go wrong: PNG inputs whose header claims a size the file cannot
// hold or this command will not take (a file error: exit status 1), libpng's messages, and an
// output write that fails part-way (the earlier file at that name survives byte for byte).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "end-to-end/command_runner.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

lumet::testing::CommandResult lumet(const std::string& args) {
    return lumet::testing::runLumet("render " + args);
}

[[maybe_unused]] Bytes bytesOf(const fs::path& path) {  // Windows skips the case reading back
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

std::uint32_t crc32(const unsigned char* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putChunk(Bytes& out, const char* type, const Bytes& data, bool goodCrc = true) {
    put32(out, std::uint32_t(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32(out.data() + start, out.size() - start) ^ (goodCrc ? 0u : 1u));
}

// An 8-bit grey PNG declaring width x height, its image data `raw` (filter bytes included) in a
// stored deflate block, and optionally a text chunk with a broken checksum before it.
Bytes png(std::uint32_t width, std::uint32_t height, const Bytes& raw, bool badTextChunk = false) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8 bits, grey, deflate, filters, no interlace
    putChunk(out, "IHDR", header);
    if (badTextChunk) putChunk(out, "tEXt", {'a', 0, 'b'}, false);
    Bytes zlib = {0x78,
                  0x01,
                  0x01,
                  std::uint8_t(raw.size()),
                  std::uint8_t(raw.size() >> 8),
                  std::uint8_t(~raw.size()),
                  std::uint8_t(~raw.size() >> 8)};
    zlib.insert(zlib.end(), raw.begin(), raw.end());
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(zlib, b << 16 | a);
    putChunk(out, "IDAT", zlib);
    putChunk(out, "IEND", {});
    return out;
}

// What is said of a width beyond the readers' limit and of a zero width: libpng's own message,
// inside the one error message, on Linux; on Windows the command's header check, which runs
// before stb_image, and stb_image's refusal.
#ifdef _WIN32
constexpr const char* kBeyondTheReader = "2147483647 x 1 pixels, more than";
constexpr const char* kZeroWidth = "corrupt or unsupported PNG";
constexpr const char* kTruncated = ": corrupt or unsupported PNG (";
#else
constexpr const char* kBeyondTheReader = "Invalid IHDR data";
constexpr const char* kZeroWidth = "Invalid IHDR data";
constexpr const char* kTruncated = ": cannot read the pixels (";
#endif

using CliFiles = lumet::testing::CommandFolderTest;

TEST_F(CliFiles, PngSizesBeyondTheLimitsOrTheFileAreRefusedUpFront) {
    const Bytes tiny;  // no image data at all
    const struct {
        std::uint32_t width, height;
        const char* said;
    } claims[] = {
        {20000, 20000, "20000 x 20000"},       // 4e8 pixels: over the pixel limit
        {65536, 65536, "65536 x 65536"},       // each side allowed, the whole not
        {16384, 16384, "which its 68 bytes"},  // within the limits, not within 68 bytes
        {2147483647, 1, kBeyondTheReader},     // the PNG reader's own check
        {0, 7, kZeroWidth},                    // the reader refuses a zero size in the header
    };
    for (const auto& claim : claims) {
        const Bytes file = png(claim.width, claim.height, tiny);
        ASSERT_EQ(file.size(), 68u);
        writeBytes(at("claim.png"), file);
        const auto r = lumet(at("claim.png") + " --quiet -o " + at("out.png"));
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(at("claim.png") + ": "), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("libpng"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("--help"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(claim.said), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("bad_alloc"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(at("out.png")));
    }

    // A sound 2 x 2 file with a broken ancillary chunk renders, and libpng's warning about it
    // does not reach the terminal; a truncated copy fails with libpng's error inside the message.
    const Bytes good = png(2, 2, {0, 255, 255, 0, 255, 255}, true);
    writeBytes(at("warn.png"), good);
    auto r = lumet(at("warn.png") + " --quiet --quality low --device cpu -o " + at("out.png"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "") << r.out;
    writeBytes(at("cut.png"), Bytes(good.begin(), good.end() - 20));
    r = lumet(at("cut.png") + " --quiet --device cpu -o " + at("cut_out.png"));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(at("cut.png") + kTruncated), std::string::npos) << r.out;
#ifndef _WIN32
    EXPECT_NE(r.out.find("end of file"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("libpng"), std::string::npos) << r.out;
#endif
    EXPECT_FALSE(fs::exists(at("cut_out.png")));
}

TEST_F(CliFiles, AWriteThatFailsPartWayKeepsTheEarlierFile) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a POSIX file size limit";
#else
    const std::string quick = " --text Lumet --size 400x200 --quality low --quiet --device cpu";
    for (const char* name : {"keep.png", "keep.exr"}) {
        const std::string depth = fs::path(name).extension() == ".exr" ? " --depth 32" : "";
        ASSERT_EQ(lumet(quick + depth + " --preset Copper -o " + at(name)).status, 0);
        const Bytes before = bytesOf(at(name));
        ASSERT_GT(before.size(), 1024u);
        // A one-block file size limit (write() then fails with EFBIG instead of a signal).
        lumet::testing::RunOptions limited;
        limited.fileSizeLimit = 512;
        const auto r = lumet::testing::runLumet("render" + quick + depth + " -o " + at(name),
                                                limited);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find(at(name) + ": "), std::string::npos) << r.out;
        EXPECT_EQ(bytesOf(at(name)), before) << name;
    }
    // Nothing is left behind but the two outputs.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
#endif
}

}  // namespace
