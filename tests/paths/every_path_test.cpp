// One frame for one set of settings, whichever way it is rendered: the smart protocol, the plain
// protocol and OpenFX, each frame of a keyed animation (Blur, Bevel Depth and Light Angle moving)
// as part of the whole sequence, alone in a fresh process (as a farm node renders it) and within
// a range, at full resolution and at preview factors (an OpenFX host's render scale is the other
// host's downsample). Every built-in map and a custom one; the plain protocol always draws Inner
// Bevel, which is therefore the style here. The layer's sides divide by no preview factor, so
// that each host's rounding of a scaled size is part of the test. Files are compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "end-to-end/command_runner.h"

namespace {

using lumet::testing::fileBytes;

namespace fs = std::filesystem;

// The preview factors change nothing of how a map is prepared, so they run for the maps whose
// preparation is their own (Gallery stands for the raw built-in ones): Diamond's decoded image and
// its own blur, and a custom layer that the host scales with the frame.
struct MapCase {
    const char* name;
    std::vector<int> downsamples;
};
void PrintTo(const MapCase& map, std::ostream* out) { *out << map.name; }
const MapCase kMaps[] = {{"Gallery", {1, 2, 3}},   {"Studio", {1}},    {"Showroom", {1}},
                         {"Beauty", {1}},          {"Rim Light", {1}}, {"Strips", {1}},
                         {"Panels", {1}},          {"Dramatic", {1}},  {"Diamond", {1, 2, 3}},
                         {"Custom Map", {1, 2, 3}}};

class EveryPath : public lumet::testing::CommandFolderTest,
                  public ::testing::WithParamInterface<MapCase> {
protected:
    // Renders `frames` (a --range, or empty for the whole timeline) through one path.
    void render(const std::string& path, const std::string& frames, int downsample,
                const fs::path& folder) {
        fs::create_directories(folder);
        const std::string map = GetParam().name;
        std::string args = "render --text Lu --size 121x61 --frames 3 --quiet ";
        args.append(path).append(" --downsample ").append(std::to_string(downsample));
        args.append(" --key \"Blur@0=25\" --key \"Blur@2=60\" --key \"Bevel Depth@0=80\"")
            .append(" --key \"Bevel Depth@2=160\" --key \"Light Angle@0=30\"")
            .append(" --key \"Light Angle@2=140\"");
        if (map == "Custom Map") {
            args.append(" --custom-map ").append(at("map.png"));
        } else {
            args.append(" --set \"HDRI Map=").append(map).append("\"");
        }
        if (!frames.empty()) args.append(" --range ").append(frames);
        args.append(" -o ").append((folder / "f%d.png").string());
        const lumet::testing::CommandResult result = lumet::testing::runLumet(args);
        ASSERT_EQ(result.status, 0) << args << "\n" << result.out;
    }
};

TEST_P(EveryPath, GivesTheSameFrameAloneInASequenceAndInARange) {
    // A colourful custom map: a rendered title.
    ASSERT_EQ(lumet::testing::runLumet(
                  "render --text Map --size 96x48 --preset Copper --quiet -o " + at("map.png"))
                  .status,
              0);
    const std::vector<std::pair<std::string, std::string>> paths = {
        {"smart", "--host ae --protocol smart"},
        {"plain", "--host ae --protocol plain"},
        {"ofx", "--host ofx"}};
    for (const int downsample : GetParam().downsamples) {
        const fs::path base = fs::path(at("d")) / std::to_string(downsample);
        for (const auto& [name, path] : paths) {
            render(path, "", downsample, base / name / "sequence");
            render(path, "2", downsample, base / name / "alone");
            render(path, "1-2", downsample, base / name / "range");
        }
        // Every file against the smart protocol's sequence.
        for (const char* file : {"f0.png", "f1.png", "f2.png"}) {
            const std::vector<unsigned char> reference =
                fileBytes(base / "smart" / "sequence" / file);
            ASSERT_FALSE(reference.empty()) << file;
            for (const auto& [name, path] : paths) {
                for (const char* how : {"sequence", "alone", "range"}) {
                    const fs::path other = base / name / how / file;
                    if (!fs::exists(other)) continue;  // a frame this run did not render
                    EXPECT_TRUE(fileBytes(other) == reference)
                        << GetParam().name << ", downsample " << downsample << ": " << name << " "
                        << how << " " << file;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Maps, EveryPath, ::testing::ValuesIn(kMaps),
                         [](const ::testing::TestParamInfo<MapCase>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 if (*c != ' ') name += *c;
                             return name;
                         });

}  // namespace
