// A frame computed in bands of rows or tiles of columns, as a node with little memory computes
// it, is the frame computed whole: the same file, byte for byte, at 8, 16 and 32 bits, through
// both protocols and OpenFX, for each bevel style, with the smart edge carving colour edges, a
// wide glow, and at preview factors. Budgets of one and 16 megabytes make bands of whole rows
// (a budget of one as short as bands get, so that each stage's reach crosses several of them) in
// the narrower frames, and tiles of columns in the wide ones: tiles of the window's whole height
// for a line a few rows tall, whose glow spans every band, and bands within tiles for a row of
// strokes without glow.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "end-to-end/command_runner.h"

namespace {

using lumet::testing::fileBytes;

namespace fs = std::filesystem;

// The title's thin strokes and glow, and a disc with colour edges inside it whose inner
// distances run past the bevel's width (without the glow, whose reach would hide a short one of
// the geometry's).
struct StripCase {
    const char* name;
    const char* layer;
    const char* options;
};

const StripCase kCases[] = {
    {"smart8.png", "title.png", "--host ae --protocol smart --depth 8 --set \"Edge Strength=80\""},
    {"plain16.png", "title.png", "--host ae --protocol plain --depth 16"},
    {"ofx32.tif", "title.png",
     "--host ofx --depth 32 --set \"Glow Radius=150\" --set \"Glow Intensity=3\""},
    {"emboss32.tif", "disc.png",
     "--host ae --depth 32 --set \"Bevel Style=Emboss\" --set \"Glow Intensity=0\""},
    {"smart16.png", "disc.png",
     "--host ae --depth 16 --set \"Edge Strength=100\" --set \"Bevel Depth=300\" "
     "--set \"Glow Intensity=0\""},
    {"outer16.png", "disc.png",
     "--host ofx --depth 16 --set \"Bevel Style=Outer Bevel\" --set \"Bevel Depth=300\" "
     "--set \"Glow Intensity=0\" --downsample 2"},
    {"pillow8.png", "title.png",
     "--host ofx --depth 8 --set \"Bevel Style=Pillow\" --downsample 3"},
    {"full8.png", "disc.png",
     "--host ae --protocol plain --depth 8 --set \"Bevel Style=Full Bevel\" --quality low "
     "--set \"Glow Intensity=0\""},
    {"line8.png", "line.png", "--host ae --depth 8 --set \"Edge Strength=60\""},
    {"line32.tif", "line.png", "--host ofx --depth 32 --set \"Bevel Style=Outer Bevel\""},
    {"bar16.png", "bar.png",
     "--host ae --depth 16 --set \"Edge Strength=100\" --set \"Glow Intensity=0\""},
    {"deep32.tif", "disc.png",
     "--host ae --depth 32 --preset Diamond --set \"Bevel Depth=300\" "
     "--set \"Bevel Softness=100\" --set \"Glow Intensity=0\""},
};

class StripFrames : public lumet::testing::CommandFolderTest {};

TEST_F(StripFrames, AreTheWholeFramesBytes) {
    // A layer with colour edges inside its shapes: a rendered title.
    ASSERT_EQ(lumet::testing::runLumet("render --text \"Qx 42\" --size 320x180 --preset Copper "
                                       "--quiet -o " +
                                       at("title.png"))
                  .status,
              0);
    ASSERT_EQ(lumet::testing::runLumet("render --text \"●\" --size 300x160 --preset Copper "
                                       "--set \"Glow Intensity=0\" --quiet -o " +
                                       at("disc.png"))
                  .status,
              0);
    // A line a few rows tall across a wide frame, and a row of upright strokes with colour edges
    // (each as thin as a tile's edge may cut it: a tile measures only its own columns).
    std::string line, strokes;
    for (int i = 0; i < 28; ++i) line += "▬";
    for (int i = 0; i < 40; ++i) strokes += "I";
    const std::string layers[][3] = {{"line.png", line, "2600x10"},
                                     {"bar.png", strokes, "2600x60"}};
    for (const auto& [name, text, size] : layers)
        ASSERT_EQ(lumet::testing::runLumet("render --text \"" + text + "\" --size " + size +
                                           " --font-size 120 --preset Gold --quiet -o " + at(name))
                      .status,
                  0);
    lumet::testing::RunOptions reproducible;
    reproducible.environment = {{"SOURCE_DATE_EPOCH", "0"}};
    for (const StripCase& c : kCases) {
        const char* const budgets[][2] = {
            {"", "whole_"}, {" --memory-budget 1M", "least_"}, {" --memory-budget 16M", "some_"}};
        for (const auto& [budget, prefix] : budgets) {
            const std::string args = std::string("render ") + at(c.layer) +
                                     " --device cpu --quiet " + c.options + budget + " -o " +
                                     at(prefix + std::string(c.name));
            const lumet::testing::CommandResult result =
                lumet::testing::runLumet(args, reproducible);
            ASSERT_EQ(result.status, 0) << args << "\n" << result.out;
        }
        const std::vector<unsigned char> whole = fileBytes(at(std::string("whole_") + c.name));
        ASSERT_FALSE(whole.empty()) << c.name;
        EXPECT_TRUE(whole == fileBytes(at(std::string("least_") + c.name))) << c.name;
        EXPECT_TRUE(whole == fileBytes(at(std::string("some_") + c.name))) << c.name;
    }
}

}  // namespace
