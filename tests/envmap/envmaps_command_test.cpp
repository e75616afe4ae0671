// `lumet envmaps` end to end: the built command writes the map it was asked for, its smooth
// version and the contact sheet as PNG files, and rejects bad arguments with status 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "end-to-end/command_runner.h"

namespace {

namespace fs = std::filesystem;

int run(const std::string& arguments) {
    using namespace lumet::testing;
    return runLumet("envmaps " + arguments).status;
}

bool isPng(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char signature[8] = {};
    in.read(signature, 8);
    return in && std::string(signature, 8) == "\x89PNG\r\n\x1a\n";
}

TEST(EnvmapsCommand, WritesTheMapItsSmoothVersionAndTheContactSheet) {
    const fs::path dir = fs::temp_directory_path() / "lumet-envmaps-test";
    fs::remove_all(dir);
    ASSERT_EQ(run("--map 7 --blur 30 -o " + dir.string()), 0);
    EXPECT_TRUE(isPng(dir / "7-panels.png"));
    EXPECT_TRUE(isPng(dir / "7-panels-blur30.png"));
    EXPECT_TRUE(isPng(dir / "contact-sheet.png"));
    EXPECT_FALSE(fs::exists(dir / "1-gallery.png"));
    fs::remove_all(dir);

    EXPECT_EQ(run("--blur 101 -o " + dir.string()), 2);
    EXPECT_EQ(run("--map 0 -o " + dir.string()), 2);
    EXPECT_EQ(run("--bogus"), 2);
    EXPECT_EQ(run(""), 2);  // no output folder
}

}  // namespace
