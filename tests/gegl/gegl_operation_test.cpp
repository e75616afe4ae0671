// The lumet:bevel operation inside the gegl command, against `lumet render` of the same layer and
// values: the input's bounds by default, and grown by the effect's margin (lumet render's full
// output) when asked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host_programs.h"

namespace lumet::testing {
namespace {

class GeglOperationTest : public HostProgramTest {
protected:
    // The build's folder alone, as a user names it (it links GEGL's own modules too).
    RunOptions withPlugin() const {
        return withHostEnvironment({{"GEGL_PATH", std::string(LUMET_GEGL_DIR)}});
    }
    void gegl(const std::string& properties, const std::string& output) {
        std::vector<std::string> argv = {program_, at("layer.png"), "-o", at(output),
                                         "--",     "lumet:bevel"};
        for (std::string& word : splitWords(properties)) argv.push_back(std::move(word));
        const CommandResult result = runProgram(argv, withPlugin());
        ASSERT_EQ(result.status, 0) << properties << "\n" << result.out;
    }
    std::string program_ = need("gegl");
};

// Properties by their names in lower case with dashes, enum values by their nicks; each case as
// gegl takes it and as lumet render's options.
TEST_F(GeglOperationTest, StillsEqualLumetRender) {
    if (program_.empty()) GTEST_SKIP() << "gegl is not installed (scripts/install-deps.sh)";
    struct Case {
        std::string properties, lumet;
    };
    const std::vector<Case> cases = {
        {"preset=gold", "--preset Gold"},
        {"preset=rose-gold edge-profile=chisel-hard bevel-depth=220 smart-edge=false "
         "light-angle=250 shadow-color=#ff2000",
         "--preset 'Rose Gold' --set 'Edge Profile=Chisel Hard' --set 'Bevel Depth=220' "
         "--set 'Smart Edge=off' --set 'Light Angle=250' --set 'Shadow Color=#FF2000'"},
        {"preset=black-chrome hdri-map=studio transparency=30 glow-intensity=1.5 glow-radius=20",
         "--preset 'Black Chrome' --set 'HDRI Map=Studio' --set 'Transparency=30' "
         "--set 'Glow Intensity=1.5' --set 'Glow Radius=20'"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string name = "gegl" + std::to_string(i) + ".png";
        gegl(cases[i].properties, name);
        lumetRender(cases[i].lumet, "lumet" + std::to_string(i) + ".png");
        expectSameFrame(name, "lumet" + std::to_string(i) + ".png", "gegl " + cases[i].properties);
    }
}

TEST_F(GeglOperationTest, GrowBoundsKeepsTheMarginAsLumetRendersItsFullOutput) {
    if (program_.empty()) GTEST_SKIP() << "gegl is not installed (scripts/install-deps.sh)";
    gegl("preset=copper glow-intensity=2 grow-bounds=true", "grown.png");
    lumetRender("--preset Copper --set 'Glow Intensity=2' --full-output", "full.png");
    expectSameFrame("grown.png", "full.png", "gegl grow-bounds");
}

}  // namespace
}  // namespace lumet::testing
