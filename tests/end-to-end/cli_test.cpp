// The lumet command end to end: about, and the params and presets listings against committed
// copies, through the built plug-in; help on every level and usage errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "end-to-end/command_runner.h"

namespace {

using Result = lumet::testing::CommandResult;

// Runs lumet with the arguments; stderr is folded into the output when asked.
Result lumet(const std::string& args, bool withStderr = false) {
    lumet::testing::RunOptions options;
    options.withStderr = withStderr;
    return lumet::testing::runLumet(args, options);
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

// What saved projects rely on: every parameter the host sees (index, label, type, range, default,
// flags) and every value each preset sets, against the listings committed in tests/data. A
// deliberate change rewrites them with LUMET_UPDATE_GOLDEN=1.
TEST(Cli, ParamsAndPresetsListTheCommittedTables) {
    for (const std::string command : {"params", "presets"}) {
        const Result r = lumet(kPlugin + " " + command);
        ASSERT_EQ(r.status, 0) << command;
        const std::string path = std::string(LUMET_TEST_DATA_DIR) + "/" + command + ".txt";
        if (std::getenv("LUMET_UPDATE_GOLDEN")) {
            std::ofstream(path, std::ios::binary) << r.out;
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        std::string expected((std::istreambuf_iterator<char>(in)), {});
        expected.erase(std::remove(expected.begin(), expected.end(), '\r'), expected.end());
        ASSERT_FALSE(expected.empty()) << path << " (LUMET_UPDATE_GOLDEN=1 makes it)";
        EXPECT_EQ(r.out, expected) << command;
    }
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
    for (const Case& c : {Case{"frobnicate", "'frobnicate'"}, Case{"about extra", "extra"},
                          Case{"params --bogus", "--bogus"}, Case{"--wat about", "--wat"},
                          Case{"about --plugin", "--plugin"}, Case{"", "subcommand"},
                          Case{"montage --columns 0x3 -o m.png a.png", "--columns"},
                          Case{"envmaps --blur 1e1 -o e", "1e1"}}) {
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
