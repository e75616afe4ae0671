// lumet render with the image files of a compositing pipeline, checked against OpenImageIO's
// oiiotool as an independent reader and writer: a layer that oiiotool converts to TIFF, DPX,
// JPEG or linear half-float OpenEXR renders what the PNG renders; an OpenEXR output is
// half-float scene-linear, equal to the PNG output once oiiotool takes it back to sRGB, and keeps
// values above 1, as does a custom map of HDR values; unreadable and unwritable files exit 1.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <algorithm>
#include <string>
#include <vector>

#include "end-to-end/command_runner.h"

namespace {

namespace fs = std::filesystem;
using Result = lumet::testing::CommandResult;  // stdout and stderr

Result lumet(const std::string& args) {
    return lumet::testing::runLumet("render " + args);
}

using CliFormats = lumet::testing::CommandFolderTest;

const std::string kQuick = " --size 160x80 --quality low --device cpu --quiet";
// One 8-bit level, the most two renders may differ by once oiiotool has converted one of them.
const std::string kOneLevel = " --fail 0.00393 --warn 0.00393 --diff";

#ifdef LUMET_OIIOTOOL
const std::string kTool = std::string(LUMET_OIIOTOOL) + " ";

// Runs the commands of a line joined by " && " in turn, up to the first that fails.
Result run(const std::string& line) {
    Result result;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t end = std::min(line.find(" && ", start), line.size());
        const Result one =
            lumet::testing::runProgram(lumet::testing::splitWords(line.substr(start, end - start)), {});
        result.status = one.status;
        result.out += one.out;
        if (one.status != 0) break;
        start = end + 4;
    }
    return result;
}

std::vector<unsigned char> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}


TEST_F(CliFormats, LayersOfEveryFormatRenderAsThePng) {
    ASSERT_EQ(lumet("--text Hi --preset Copper" + kQuick + " -o " + at("layer.png")).status, 0);
    // The PNG's straight colour, as oiiotool reads it without premultiplying it in 8 bits.
    const std::string straight = kTool + "--iconfig oiio:UnassociatedAlpha 1 " + at("layer.png");
    const auto toTiff = [&](const std::string& name) {
        return kTool + "--iconfig oiio:UnassociatedAlpha 1 " + at(name + ".png") + " -o " +
               at(name + ".tif");
    };
    const struct {
        const char* input;
        std::string make;
        const char* reference;  // the layer whose render it must equal
        bool exact;             // byte for byte, else within one 8-bit level
    } cases[] = {
        {"layer.tif", straight + " -o " + at("layer.tif"), "layer.png", true},
        {"layer16.tif", straight + " -d uint16 -o " + at("layer16.tif"), "layer.png", true},
        {"layer.dpx", straight + " -o " + at("layer.dpx"), "layer.png", true},
        // sRGB to scene-linear on the straight colour, premultiplied as OpenEXR holds it.
        {"layer.exr",
         straight + " --colorconvert:unpremult=0 sRGB linear --premult -d half -o " +
             at("layer.exr"),
         "layer.png", false},
        // PNGs that lumet reads without OpenImageIO (with the sRGB, gamma, chromaticity and
        // zero offset chunks that oiiotool writes), against TIFFs of them that it reads through
        // it; and one whose gamma says linear, which goes through the library's conversion.
        {"grey.png", straight + " --ch R -o " + at("grey.png") + " && " + toTiff("grey"),
         "grey.tif", true},
        {"greyAlpha.png", straight + " --ch R,A -o " + at("greyAlpha.png") + " && " +
             toTiff("greyAlpha"), "greyAlpha.tif", true},
        {"rgb.png", straight + " --ch R,G,B -o " + at("rgb.png") + " && " + toTiff("rgb"),
         "rgb.tif", true},
        {"rgba16.png", straight + " -d uint16 -o " + at("rgba16.png") + " && " + toTiff("rgba16"),
         "rgba16.tif", true},
        {"linear.png",
         straight + " --colorconvert sRGB linear -o " + at("linear.png") + " && " + kTool +
             "--iconfig oiio:UnassociatedAlpha 1 " + at("linear.png") +
             " --colorconvert linear sRGB -d uint16 -o " + at("linear.tif"),
         "linear.tif", false},
        // JPEG is opaque and lossy: against the PNG that oiiotool decodes from it.
        {"layer.jpg",
         kTool + at("layer.png") + " --ch R,G,B -o " + at("layer.jpg") + " && " + kTool +
             at("layer.jpg") + " -o " + at("decoded.png"),
         "decoded.png", true},
    };
    std::set<std::string> rendered;
    for (const auto& c : cases) {
        const Result made = run(c.make);
        ASSERT_EQ(made.status, 0) << c.make << "\n" << made.out;
        const std::string out = at(std::string("from_") + c.input + ".png");
        const std::string reference = at(std::string("from_") + c.reference + ".png");
        const std::string effect = " --preset Gold --quality low --device cpu --quiet -o ";
        ASSERT_EQ(lumet(at(c.input) + effect + out).status, 0) << c.input;
        if (rendered.insert(reference).second) {
            ASSERT_EQ(lumet(at(c.reference) + effect + reference).status, 0) << c.reference;
        }
        if (c.exact) {
            EXPECT_EQ(bytesOf(out), bytesOf(reference)) << c.input;
        } else {
            const Result diff = run(kTool + out + " " + reference + kOneLevel);
            EXPECT_EQ(diff.status, 0) << c.input << "\n" << diff.out;
        }
    }
}

TEST_F(CliFormats, ExrIsHalfSceneLinearAndKeepsValuesAboveOne) {
    const std::string frame = "--text Hi --preset Gold" + kQuick;
    ASSERT_EQ(lumet(frame + " -o " + at("out.exr")).status, 0);  // renders at 32 bits
    ASSERT_EQ(lumet(frame + " --depth 32 -o " + at("out.png")).status, 0);
    const Result info = run(kTool + "--info -v " + at("out.exr"));
    EXPECT_NE(info.out.find("half openexr"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("chromaticities: 0.64, 0.33, 0.3, 0.6, 0.15, 0.06, 0.3127, 0.329"),
              std::string::npos)
        << info.out;

    // Back to straight sRGB colour, clamped as the PNG is, it is the PNG within one level.
    const Result diff = run(kTool + at("out.exr") +
                            " --unpremult --colorconvert linear sRGB --clamp:min=0:max=1 " +
                            "--iconfig oiio:UnassociatedAlpha 1 " + at("out.png") + kOneLevel);
    EXPECT_EQ(diff.status, 0) << diff.out;

    // The highlights go beyond 1; a map of values up to 4 lights the metal more brightly than
    // the same map clipped at 1.
    auto maxima = [&](const std::string& file) {
        const Result stats = run(kTool + file + " --printstats");
        std::istringstream in(stats.out.substr(stats.out.find("Stats Max:") + 10));
        std::vector<float> max(4);
        for (float& m : max) in >> m;
        return max;
    };
    EXPECT_GT(maxima(at("out.exr"))[0], 1.0f);
    ASSERT_EQ(run(kTool + "--pattern fill:top=4,3.5,3:bottom=0.05,0.05,0.1 256x128 3 -o " +
                  at("map.hdr") + " && " + kTool + at("map.hdr") + " --clamp:max=1 -o " +
                  at("clipped.hdr"))
                  .status,
              0);
    ASSERT_EQ(lumet(frame + " --custom-map " + at("map.hdr") + " -o " + at("hdr.exr")).status, 0);
    ASSERT_EQ(lumet(frame + " --custom-map " + at("clipped.hdr") + " -o " + at("clip.exr")).status,
              0);
    EXPECT_GT(maxima(at("hdr.exr"))[2], maxima(at("clip.exr"))[2] + 0.01f);
}
#endif

TEST_F(CliFormats, UnreadableAndUnwritableFilesExitOne) {
    const std::string out = " -o " + at("x.png");
    const struct {
        std::string args;
        std::string named;
    } cases[] = {
        {at("missing.png") + out, "missing.png: cannot open"},
        {"--text Lu --custom-map " + at("nomap.exr") + out, "nomap.exr: cannot open"},
        {"--text Lu" + kQuick + " -o " + at("no/such/folder/x.png"), "x.png"},
    };
    for (const auto& c : cases) {
        const Result r = lumet(c.args);
        EXPECT_EQ(r.status, 1) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.named), std::string::npos) << c.args << "\n" << r.out;
        EXPECT_EQ(r.out.find("--help"), std::string::npos) << c.args << "\n" << r.out;
    }
}

}  // namespace
