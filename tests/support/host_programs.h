// What the tests of the frei0r and GEGL front ends share: finding the programs that load them
// (ffmpeg, melt, gegl), their environment, the test layer, lumet render of it, and the check
// that a program's frame is lumet render's within one 8-bit level.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "end-to-end/command_runner.h"
#include "support/png_files.h"

namespace lumet::testing {

// The program's path on PATH, empty when it is not installed.
inline std::string installedProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::filesystem::path candidate = std::filesystem::path(rest.substr(0, colon)) / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return {};
}

// The environment a program loading the plug-in runs in.
inline RunOptions withHostEnvironment(
    std::vector<std::pair<std::string, std::optional<std::string>>> environment) {
    RunOptions options;
    options.environment = std::move(environment);
#ifdef LUMET_HOST_PRELOAD
    // A sanitized plug-in inside an unsanitized program needs the sanitizer's runtime first; the
    // program's own leaks are not ours to report.
    options.environment.push_back({"LD_PRELOAD", std::string(LUMET_HOST_PRELOAD)});
    options.environment.push_back({"ASAN_OPTIONS", std::string("detect_leaks=0")});
#endif
    return options;
}

class HostProgramTest : public CommandFolderTest {
protected:
    void SetUp() override {
        CommandFolderTest::SetUp();
        ASSERT_TRUE(writeTestLayer(at("layer.png"), 64, 48, 10));
    }
    static std::string need(const std::string& name) { return installedProgram(name); }
    static std::string numbered(const std::string& stem, int frame) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%04d.png", stem.c_str(), frame);
        return name;
    }
    // lumet render of the layer with `arguments` into `output` (a %04d pattern for frames).
    void lumetRender(const std::string& arguments, const std::string& output) {
        const CommandResult result =
            runLumet("render " + at("layer.png") + " " + arguments + " -q -o " + at(output));
        ASSERT_EQ(result.status, 0) << arguments << "\n" << result.out;
    }
    // The program's frame against lumet render's: alpha, and straight colour where both are
    // opaque, within one 8-bit level; premultiplied colour within two (lumet's 8-bit frame is
    // truncated after a dither of up to 0.3 of a level and made straight in 8 bits, where a
    // float frame is rounded once).
    void expectSameFrame(const std::string& hostFile, const std::string& lumetFile,
                         const std::string& what) {
        PngPicture host, lumet;
        ASSERT_TRUE(readPngFile(at(hostFile), host)) << what << ": " << hostFile;
        ASSERT_TRUE(readPngFile(at(lumetFile), lumet)) << what << ": " << lumetFile;
        ASSERT_EQ(host.width, lumet.width) << what;
        ASSERT_EQ(host.height, lumet.height) << what;
        const PictureDifference d = pictureDifference(host, lumet);
        EXPECT_LE(d.alpha, 1) << what;
        EXPECT_LE(d.opaqueColour, 1) << what;
        EXPECT_LE(d.premultipliedColour, 2.0) << what;
        EXPECT_GT(d.coveredPixels, 500) << what << ": the layer's shape should stay covered";
        std::printf("%s: alpha %d, opaque colour %d, premultiplied colour %.2f levels\n",
                    what.c_str(), d.alpha, d.opaqueColour, d.premultipliedColour);
    }
};

}  // namespace lumet::testing
