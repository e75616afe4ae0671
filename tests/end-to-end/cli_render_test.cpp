// lumet render end to end: files of every kind it writes (8- and 16-bit PNG, float EXR, frame
// patterns, ranges, the stage dump with its PGM/PFM headers and sizes), and its exit statuses
// and messages for bad options and files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "end-to-end/command_runner.h"

namespace {

namespace fs = std::filesystem;

using Result = lumet::testing::CommandResult;  // stdout and stderr

Result lumet(const std::string& args) {
    return lumet::testing::runCommand(lumet::testing::cliProgram() + " " + args + " 2>&1");
}

std::vector<unsigned char> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

using CliRender = lumet::testing::CommandFolderTest;

// Small and quick: no glow (so no output margin), low quality.
const std::string kQuick =
    "--text Lu --size 120x60 --set \"Glow Intensity=0\" --quality low --quiet";

TEST_F(CliRender, WritesPngAtBothDepthsAndFloatExr) {
    ASSERT_EQ(lumet("render " + kQuick + " --preset Silver -o " + at("a.png")).status, 0);
    std::vector<unsigned char> png = bytesOf(at("a.png"));
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png[1], 'P');
    EXPECT_EQ(png[24], 8);  // IHDR bit depth
    EXPECT_EQ(png[25], 6);  // RGBA
    EXPECT_EQ((png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19]), 120);

    ASSERT_EQ(lumet("render " + kQuick + " --depth 16 -o " + at("b.png")).status, 0);
    EXPECT_EQ(bytesOf(at("b.png"))[24], 16);

    ASSERT_EQ(lumet("render " + kQuick + " --depth 32 --protocol plain -o " + at("c.exr")).status,
              0);
    const std::vector<unsigned char> exr = bytesOf(at("c.exr"));
    ASSERT_GT(exr.size(), 4u);
    EXPECT_EQ(exr[0], 0x76);
    EXPECT_EQ(exr[1], 0x2f);
    EXPECT_EQ(exr[2], 0x31);
    EXPECT_EQ(exr[3], 0x01);
}

TEST_F(CliRender, AnimationPatternsAndRanges) {
    const Result r =
        lumet("render " + kQuick + " --frames 4 --range 1-2 --key \"Light Angle@0=0\"" +
              " --key \"Light Angle@3=270\" -o " + at("f_%03d.png"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(fs::exists(at("f_000.png")));
    EXPECT_TRUE(fs::exists(at("f_001.png")));
    EXPECT_TRUE(fs::exists(at("f_002.png")));
    EXPECT_FALSE(fs::exists(at("f_003.png")));
    // The light moved between the frames.
    EXPECT_NE(bytesOf(at("f_001.png")), bytesOf(at("f_002.png")));
}

TEST_F(CliRender, DumpStagesWritesEveryPlaneWithItsSize) {
    const Result r = lumet(
        "render --text Lu --size 64x32 --quality low --quiet --set "
        "\"Glow Radius=4\" --dump-stages " +
        at("dump") + " -o " + at("d.png"));
    ASSERT_EQ(r.status, 0) << r.out;
    // The glow adds a 500-pixel margin on each side; low quality works at the output size.
    const int W = 64 + 1000, H = 32 + 1000, W2 = W, H2 = H;
    auto expectFile = [&](const char* name, const std::string& header, std::size_t payload) {
        const std::vector<unsigned char> bytes = bytesOf(at("dump") + "/" + name);
        ASSERT_EQ(bytes.size(), header.size() + payload) << name;
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header) << name;
    };
    const std::string size = std::to_string(W) + " " + std::to_string(H);
    const std::string size2 = std::to_string(W2) + " " + std::to_string(H2);
    const std::size_t N = std::size_t(W) * H, N2 = std::size_t(W2) * H2;
    expectFile("alpha.pgm", "P5\n" + size + "\n255\n", N);
    expectFile("alphaSS.pgm", "P5\n" + size2 + "\n255\n", N2);
    expectFile("height.pfm", "Pf\n" + size2 + "\n-1.0\n", N2 * 4);
    expectFile("normals.pfm", "PF\n" + size2 + "\n-1.0\n", N2 * 12);
    expectFile("reflection.pfm", "PF\n" + size2 + "\n-1.0\n", N2 * 12);
    expectFile("shade.pfm", "PF\n" + size + "\n-1.0\n", N * 12);
    expectFile("glow.pfm", "PF\n" + size + "\n-1.0\n", N * 12);
    expectFile("glowA.pfm", "Pf\n" + size + "\n-1.0\n", N * 4);
    expectFile("envSharp.pfm", "PF\n2048 1024\n-1.0\n", std::size_t(2048) * 1024 * 12);
    expectFile("envSmooth.pfm", "PF\n2048 1024\n-1.0\n", std::size_t(2048) * 1024 * 12);
    std::ifstream json(at("dump") + "/settings.json");
    const std::string text((std::istreambuf_iterator<char>(json)), {});
    for (const char* field : {"\"bevelStyle\": 1", "\"glowRadius\": 4,", "\"SS\": 1",
                              "\"inputOffset\": [500, 500]", "\"W2\": 1064", "\"tintBlend\""}) {
        EXPECT_NE(text.find(field), std::string::npos) << field;
    }
}

// Frames rendered several at once, each by its own effect instance and thread, are the frames
// one job renders in turn, byte for byte; the geometry, the light and the glow change between
// frames so that no instance can reuse another's planes.
TEST_F(CliRender, JobsRenderTheSameFramesAsOneJob) {
    const std::string animation =
        " --text Lu --size 120x60 --quality low --quiet --device cpu --frames 6"
        " --key \"Light Angle@0=0\" --key \"Light Angle@5=300\" --key \"Bevel Depth@0=40\""
        " --key \"Bevel Depth@5=140\" --key \"Glow Radius@0=5\" --key \"Glow Radius@5=25\"";
    ASSERT_EQ(lumet("render" + animation + " --jobs 1 -o " + at("one_%d.png")).status, 0);
    const Result r = lumet("render" + animation + " --jobs 3 -o " + at("three_%d.png"));
    ASSERT_EQ(r.status, 0) << r.out;
    for (int frame = 0; frame < 6; ++frame) {
        const std::string n = std::to_string(frame) + ".png";
        ASSERT_TRUE(fs::exists(at("three_" + n))) << n;
        EXPECT_EQ(bytesOf(at("three_" + n)), bytesOf(at("one_" + n))) << n;
    }
}

TEST_F(CliRender, BadOptionsAndFilesAreNamedWithExitStatusTwo) {
    const std::string out = " -o " + at("x.png");
    const struct {
        std::string args;
        std::string named;
    } cases[] = {
        {"--text Lu --set \"Glow Radius=abc\"" + out, "Glow Radius"},
        {"--text Lu --set \"Glow Radius=900\"" + out, "Glow Radius"},
        {"--text Lu --set \"Sparkle=3\"" + out, "Sparkle"},
        {"--text Lu --preset Gilded" + out, "Gilded"},
        {"--text Lu --set \"Edge Profile=Wavy\"" + out, "Edge Profile"},
        {"--text Lu --quality best" + out, "--quality"},
        {"--text Lu --depth 12" + out, "--depth"},
        {"--text Lu -o " + at("x.xyz"), "unknown extension \".xyz\""},
        {"--text Lu --exr-type double -o " + at("x.exr"), "--exr-type"},
        {"--text Lu --exr-compression lzw -o " + at("x.exr"), "--exr-compression"},
        {"--text Lu --frames 3" + out, "frame pattern"},
        {"--text Lu --frames 3 --range 2-5 -o " + at("y_%d.png"), "--range"},
        {"--text Lu --font " + at("nofont.ttf") + out, "nofont.ttf"},
        {"--text Lu --key \"Light Angle=5\"" + out, "--key"},
        {"--text Lu --bogus" + out, "--bogus"},
        {out, "no input"},
        // Numbers are plain decimals: no hexadecimal, infinities or NaN that strtod would take.
        {"--text Lu --set \"Glow Radius=0x10\"" + out, "0x10"},
        {"--text Lu --set \"Bevel Depth=nan\"" + out, "nan"},
        {"--text Lu --set \"Light Angle=inf\"" + out, "inf"},
        {"--text Lu --font-size 0x20" + out, "--font-size"},
        {"--text Lu --frames 0x3 -o " + at("z_%d.png"), "--frames"},
        // Key frames that would wrap to another frame or a negative time in the host's 32 bits.
        {"--text Lu --key \"Light Angle@4294967297=90\"" + out, "4294967297"},
        {"--text Lu --key \"Light Angle@2147483649=90\"" + out, "2147483649"},
        // A frame field that printf cannot expand would give every frame the same name.
        {"--text Lu --frames 3 -o " + at("w_%99999999999d.png"), "frame field"},
        {"--text Lu -o " + at("w_%011d.png"), "frame field"},
        {"--text Lu --jobs 0" + out, "--jobs"},
        {"--text Lu --jobs 65" + out, "--jobs"},
        {"--text Lu --jobs 2 --dump-stages " + at("d") + out, "--jobs"},
    };
    for (const auto& c : cases) {
        const Result r = lumet("render " + c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.named), std::string::npos) << c.args << "\n" << r.out;
    }
    EXPECT_TRUE(fs::is_empty(dir_)) << "no output file for a refused command";
}

}  // namespace
