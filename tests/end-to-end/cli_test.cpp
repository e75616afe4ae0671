// The lumet command end to end: about, params and presets through the built plug-in, help on
// every level and usage errors.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "end-to-end/command_runner.h"

namespace {

using Result = lumet::testing::CommandResult;

// Runs lumet with the arguments; stderr is folded into the output when asked.
Result lumet(const std::string& args, bool withStderr = false) {
    return lumet::testing::runCommand(
        lumet::testing::cliProgram() + " " + args +
        (withStderr ? " 2>&1" : std::string(" 2>") + lumet::testing::kNullDevice));
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

const std::string kPlugin = std::string("--plugin ") + LUMET_PLUGIN_PATH;

TEST(Cli, AboutPrintsTheThreeLines) {
    // The default plug-in path: built next to the command.
    const Result r = lumet("about");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Lumet v1.0\nProfessional PBR Metal & Glass Text Effects\nVeltra Premium Effects\n");
    EXPECT_EQ(lumet("about " + kPlugin).out, r.out);
}

TEST(Cli, ParamsListsFortyFiveRows) {
    const Result r = lumet(kPlugin + " params");
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> rows = lines(r.out);
    ASSERT_EQ(rows.size(), 46u);  // header and 45 parameters
    EXPECT_EQ(rows[0].rfind("index", 0), 0u);
    for (int i = 0; i < 45; ++i)
        EXPECT_EQ(rows[std::size_t(i) + 1].rfind(std::to_string(i) + " ", 0), 0u);
    EXPECT_NE(rows[2].find("Gold|Silver|Rose Gold|Bronze|Copper|Platinum|Brushed Steel|Black "
                           "Chrome|Diamond"),
              std::string::npos);
    EXPECT_NE(rows[2].find("1 (Gold)"), std::string::npos);
    EXPECT_NE(rows[6].find("Bevel Depth"), std::string::npos);
    EXPECT_NE(rows[6].find("0 to 300, precision 2"), std::string::npos);
    EXPECT_NE(rows[6].find("150.00"), std::string::npos);
    EXPECT_NE(rows[20].find("-10000 to 10000 (slider -100 to 100)"), std::string::npos);
    EXPECT_NE(rows[28].find("135 deg"), std::string::npos);
    EXPECT_NE(rows[35].find("Glow Intensity"), std::string::npos);
    EXPECT_NE(rows[35].find(" 0.3"), std::string::npos);
    EXPECT_NE(rows[39].find("(92, 60, 15)"), std::string::npos);
    EXPECT_NE(rows[45].find("Visualize environment map"), std::string::npos);
    EXPECT_NE(rows[45].find("[invisible]"), std::string::npos);
}

TEST(Cli, PresetsListNineMaterials) {
    const Result r = lumet(kPlugin + " presets");
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> rows = lines(r.out);
    std::vector<std::string> titles;
    for (const std::string& row : rows) {
        if (!row.empty() && row[0] != ' ') titles.push_back(row);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"1 Gold", "2 Silver", "3 Rose Gold", "4 Bronze",
                                                "5 Copper", "6 Platinum", "7 Brushed Steel",
                                                "8 Black Chrome", "9 Diamond"}));
    EXPECT_NE(r.out.find("9 Diamond\n  3   Bevel Style      1 (Inner Bevel)"), std::string::npos);
    EXPECT_NE(r.out.find("  20  Rotation Y       175.00"), std::string::npos);
    EXPECT_NE(r.out.find("  11  HDRI Map         9 (Diamond)"), std::string::npos);
}

TEST(Cli, HelpOnEveryLevel) {
    for (const char* args : {"--help", "-h", "about --help", "params --help", "presets -h"}) {
        const Result r = lumet(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_NE(r.out.find("Usage: lumet"), std::string::npos) << args;
    }
    const std::string top = lumet("--help").out;
    for (const char* name : {"about", "params", "presets"}) {
        EXPECT_NE(top.find(std::string("  ") + name), std::string::npos) << name;
    }
}

TEST(Cli, UsageErrorsExitTwoNamingTheArgument) {
    struct Case {
        const char* args;
        const char* named;
    };
    for (const Case& c : {Case{"frobnicate", "'frobnicate'"}, Case{"about extra", "'extra'"},
                          Case{"params --bogus", "'--bogus'"}, Case{"--wat about", "'--wat'"},
                          Case{"about --plugin", "'--plugin'"}, Case{"", "no command"},
                          Case{"montage --columns 0x3 -o m.png a.png", "--columns"},
                          Case{"envmaps --blur 1e1 -o e", "'1e1'"}}) {
        const Result r = lumet(c.args, true);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.out.find(c.named), std::string::npos) << c.args << ": " << r.out;
    }
}

TEST(Cli, MissingPluginFailsWithStatusOne) {
    const Result r = lumet("about --plugin /nonexistent/Lumet.so", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("/nonexistent/Lumet.so"), std::string::npos);
    const Result env = lumet("about", true);
    EXPECT_EQ(env.status, 0);
}

}  // namespace
