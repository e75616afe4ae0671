// lumet render end to end: files of every kind it writes (8- and 16-bit PNG, float EXR, frame
// patterns, ranges, the stage dump with its PGM/PFM headers and sizes), and its exit statuses
// and messages for bad options and files, and the same files from both plug-in binaries.
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
    return lumet::testing::runLumet(args);
}

std::vector<unsigned char> bytesOf(const fs::path& path) {
    return lumet::testing::fileBytes(path);
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

// Timeline frame numbers end to end: a keyed text animation from frame 1001 written as a
// sequence, that sequence read back as the layer with a stepped range, each output the bytes of
// its input frame rendered alone; a log (standard error not a terminal) gets a line per frame and
// a summary.
TEST_F(CliRender, SequencesKeepTheTimelinesFrameNumbers) {
    const std::string text = "render --text Lu --size 120x60 --quality low --device cpu";
    Result r = lumet(text + " --first-frame 1001 --frames 9 --key \"Light Angle@1001=0\""
                            " --key \"Light Angle@1009=300\" -o " + at("in.####.png"));
    ASSERT_EQ(r.status, 0) << r.out;
    for (int frame = 1001; frame <= 1009; ++frame) {
        EXPECT_NE(r.out.find("lumet: frame " + std::to_string(frame) + " done in "),
                  std::string::npos) << r.out;
    }
    EXPECT_NE(r.out.find("lumet: 9 of 9 frames written in "), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(at("in.0000.png")));
    EXPECT_NE(bytesOf(at("in.1001.png")), bytesOf(at("in.1009.png")));  // the light moved

    r = lumet("render " + at("in.%04d.png") + " --quality low --device cpu --quiet --preset "
              "Silver --range 1001-1009x4 -o " + at("out_@.png"));
    ASSERT_EQ(r.status, 0) << r.out;
    for (int frame = 1001; frame <= 1009; ++frame) {
        const std::string n = std::to_string(frame);
        ASSERT_EQ(fs::exists(at("out_" + n + ".png")), (frame - 1001) % 4 == 0) << n;
        if ((frame - 1001) % 4 != 0) continue;
        ASSERT_EQ(lumet("render " + at("in." + n + ".png") + " --quality low --device cpu "
                        "--quiet --preset Silver -o " + at("alone.png")).status, 0);
        EXPECT_EQ(bytesOf(at("out_" + n + ".png")), bytesOf(at("alone.png"))) << n;
    }
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

// The OpenFX bundle in the OpenFX test host writes the effect host's files byte for byte
// wherever both hand the effect the same pixels: 8-bit PNGs (straight from the output image's
// bytes) at each preview factor, the other writers' files (from its floats), the whole expanded
// output, keyed frames on several jobs, and an input sequence of coloured frames (not exact at
// 8 bits) averaged down, whose layer changes from frame to frame.
TEST_F(CliRender, BothHostsWriteTheSameFiles) {
    ASSERT_EQ(lumet("render " + kQuick + " --text-color #C08040 --frames 2 --key \"Bevel "
                    "Depth@0=20\" --key \"Bevel Depth@1=90\" -o " + at("seq_%d.png")).status,
              0);
    const std::string keyed = " --frames 3 --key \"Light Angle@0=0\" --key \"Light Angle@2=200\"";
    const struct {
        std::string args;
        const char* ext;
        int frames;
    } cases[] = {
        {kQuick + " --preset Gold", "png", 1},
        {kQuick + " --downsample 2", "png", 1},
        {kQuick + " --downsample 3 --preset Copper", "png", 1},
        {kQuick + " --full-output --set \"Glow Intensity=0.5\" --set \"Glow Radius=6\"", "png", 1},
        {kQuick + " --background #204060", "png", 1},
#ifndef _WIN32  // lumet.exe writes PNG and OpenEXR only
        {kQuick + " --downsample 2", "tif", 1},
#endif
        {kQuick + " --depth 32 --downsample 3", "exr", 1},
        {kQuick + keyed + " --jobs 2", "png", 3},
        {at("seq_%d.png") + " --quality low --quiet --range 0-1 --downsample 2", "png", 2},
    };
    lumet::testing::RunOptions stamped;  // TIFF and OpenEXR files carry the time they were written
    stamped.environment = {{"SOURCE_DATE_EPOCH", "0"}};
    int index = 0;
    for (const auto& scene : cases) {
        const std::string name = "s" + std::to_string(index++) + "_";
        for (const char* host : {"ae", "ofx"}) {
            const Result r = lumet::testing::runLumet("render " + scene.args +
                                                          " --device cpu --host " + host + " -o " +
                                                          at(name + host + "_%d." + scene.ext),
                                                      stamped);
            ASSERT_EQ(r.status, 0) << scene.args << " " << host << ": " << r.out;
        }
        for (int frame = 0; frame < scene.frames; ++frame) {
            const std::string file = std::to_string(frame) + "." + scene.ext;
            ASSERT_TRUE(fs::exists(at(name + "ae_" + file))) << scene.args;
            EXPECT_EQ(bytesOf(at(name + "ae_" + file)), bytesOf(at(name + "ofx_" + file)))
                << scene.args << " frame " << frame;
        }
    }
}

#ifndef _WIN32
// SIGTERM (a farm stopping a task) at moments through an animation: the command stops with
// 128 + 15, the frames it wrote are whole PNGs, and no partial or temporary file is left.
TEST_F(CliRender, TerminatedRendersLeaveOnlyWholeFrames) {
    for (const char* delay : {"0.15", "0.3", "0.45", "0.6", "0.8", "1.0"}) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const Result r = lumet::testing::runProgram(
            {"timeout", "--preserve-status", "-s", "TERM", delay, LUMET_CLI_PATH, "render",
             "--text", "Lu", "--size", "400x200", "--quality", "low", "--device", "cpu",
             "--frames", "400", "--key", "Light Angle@0=0", "--key", "Light Angle@399=360", "-o",
             at("f_%04d.png")},
            {});
        EXPECT_TRUE(r.status == 143 || r.status == 0) << delay << ": " << r.out;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.size() == 10 && name.rfind("f_", 0) == 0 &&
                        entry.path().extension() == ".png")
                << delay << ": " << name;
            const std::vector<unsigned char> bytes = bytesOf(entry.path());
            ASSERT_GT(bytes.size(), 12u) << name;
            EXPECT_EQ(std::string(bytes.end() - 8, bytes.end() - 4), "IEND") << name;
        }
    }
}
#endif

// A usage error exits with 2, an unreadable file with 1 and no usage hint; each names its cause.
TEST_F(CliRender, BadOptionsAndFilesAreNamedWithTheirExitStatus) {
    const std::string out = " -o " + at("x.png");
    const struct {
        std::string args;
        std::string named;
        int status = 2;
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
        {at("missing.png") + out, "missing.png", 1},
        {"--text Lu --font " + at("nofont.ttf") + out, "nofont.ttf", 1},
        {"--text Lu --custom-map " + at("nomap.png") + out, "nomap.png", 1},
        {"--text Lu --key \"Light Angle=5\"" + out, "--key"},
        {"--text Lu --bogus" + out, "--bogus"},
        {out, "no input"},
        // Numbers are plain decimals: no hexadecimal, infinities or NaN that strtod would take.
        {"--text Lu --set \"Glow Radius=0x10\"" + out, "0x10"},
        {"--text Lu --set \"Bevel Depth=nan\"" + out, "nan"},
        {"--text Lu --set \"Light Angle=inf\"" + out, "inf"},
        {"--text Lu --font-size 0x20" + out, "--font-size"},
        {"--text Lu --font-size 40000" + out, "far beyond the 1920 x 1080 canvas"},
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
        {"--text Lu --range 1-3x0 --frames 5 -o " + at("r_####.png"), "--range"},
        {"--text Lu --first-frame 1001 --frames 3 --range 1000-1002 -o " + at("r_####.png"),
         "1000"},
        {at("seq_####.png") + out, "seq_####.png", 1},
    };
    for (const auto& c : cases) {
        const Result r = lumet("render " + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.named), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_EQ(r.out.find("--help") == std::string::npos, c.status == 1) << r.out;
    }
    EXPECT_TRUE(fs::is_empty(dir_)) << "no output file for a refused command";
}

}  // namespace
