// The frei0r filter inside the real hosts, ffmpeg's frei0r filter and MLT's melt, rendering a
// layer and short keyed animations; each frame is compared with `lumet render` of the same layer
// and values through the effect's own protocol.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/host_programs.h"

namespace lumet::testing {
namespace {

class Frei0rHostTest : public HostProgramTest {
protected:
    RunOptions withPlugin() const {
        return withHostEnvironment({{"FREI0R_PATH", std::string(LUMET_FREI0R_DIR)}});
    }
};

// ffmpeg sets the parameters by position, the preset first; each case gives them as ffmpeg's
// filter takes them and as lumet render's options.
TEST_F(Frei0rHostTest, FfmpegStillsEqualLumetRender) {
    const std::string ffmpeg = need("ffmpeg");
    if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh)";
    struct Case {
        std::string params, lumet;
    };
    const std::vector<Case> cases = {
        {"Gold", "--preset Gold"},
        {"Rose Gold|Chisel Hard|220|10|n",
         "--preset 'Rose Gold' --set 'Edge Profile=Chisel Hard' --set 'Bevel Depth=220' "
         "--set 'Bevel Softness=10' --set 'Smart Edge=off'"},
        {"copper|mesa|80|35|y|60|showroom|40|120",
         "--preset Copper --set 'Edge Profile=Mesa' --set 'Bevel Depth=80' "
         "--set 'Bevel Softness=35' --set 'Smart Edge=on' --set 'Edge Strength=60' "
         "--set 'HDRI Map=Showroom' --set 'Blur=40' --set 'Scale=120'"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string name = "ffmpeg" + std::to_string(i) + ".png";
        const CommandResult result =
            runProgram({ffmpeg, "-v", "error", "-y", "-i", at("layer.png"), "-vf",
                        "frei0r=lumet:" + cases[i].params, "-frames:v", "1", at(name)},
                       withPlugin());
        ASSERT_EQ(result.status, 0) << cases[i].params << "\n" << result.out;
        lumetRender(cases[i].lumet, "lumet" + std::to_string(i) + ".png");
        expectSameFrame(name, "lumet" + std::to_string(i) + ".png", "ffmpeg " + cases[i].params);
    }
}

// Keys through ffmpeg: the filter's parameters changed at frame times by sendcmd, as a script
// animates them, against lumet render's linear keys at the same frames.
TEST_F(Frei0rHostTest, FfmpegKeyedAnimationEqualsLumetRender) {
    const std::string ffmpeg = need("ffmpeg");
    if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh)";
    std::ofstream(at("keys.txt")) << "0.03 frei0r@bevel filter_params 'Silver|Round|150|5';\n"
                                     "0.07 frei0r@bevel filter_params 'Silver|Round|200|30';\n";
    const CommandResult result = runProgram(
        {ffmpeg, "-v", "error", "-y", "-loop", "1", "-framerate", "25", "-i", at("layer.png"),
         "-vf", "sendcmd=f=" + at("keys.txt") + ",frei0r@bevel=lumet:Silver|Round|100|5",
         "-frames:v", "3", at("ffmpeg%d.png")},
        withPlugin());
    ASSERT_EQ(result.status, 0) << result.out;
    lumetRender(
        "--preset Silver --frames 3 --first-frame 0 --set 'Edge Profile=Round' "
        "--key 'Bevel Depth@0=100' --key 'Bevel Depth@2=200' "
        "--key 'Bevel Softness@1=5' --key 'Bevel Softness@2=30'",
        "lumet%04d.png");
    for (int frame = 0; frame < 3; ++frame) {
        expectSameFrame("ffmpeg" + std::to_string(frame + 1) + ".png", numbered("lumet", frame),
                        "ffmpeg frame " + std::to_string(frame));
    }
}

// melt lists the filter, sets parameters by name (a colour, an angle, a checkbox, a keyframed
// slider) at the layer's own size, and renders each frame as lumet render does.
TEST_F(Frei0rHostTest, MeltListsTheFilterAndRendersKeyedFrames) {
    const std::string melt = need("melt");
    if (melt.empty()) GTEST_SKIP() << "melt is not installed (scripts/install-deps.sh)";
    const CommandResult list = runProgram({melt, "-query", "filters"}, withPlugin());
    EXPECT_NE(list.out.find("frei0r.lumet"), std::string::npos) << list.out;

    // A profile of the layer's size, so that melt neither scales nor pads the frame (melt needs
    // its description line); real_time=0 renders every frame, in order.
    std::ofstream(at("layer.profile"))
        << "description=the test layer\nwidth=64\nheight=48\nprogressive=1\n"
           "sample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num=64\n"
           "display_aspect_den=48\nframe_rate_num=25\nframe_rate_den=1\ncolorspace=709\n";
    const CommandResult result = runProgram({melt,
                                             "-silent",
                                             "-profile",
                                             at("layer.profile"),
                                             "avformat:" + at("layer.png"),
                                             "in=0",
                                             "out=2",
                                             "-filter",
                                             "frei0r.lumet",
                                             "Preset=Platinum",
                                             "Light Angle=250",
                                             "Transparency=30",
                                             "Shadow Color=#ff2000",
                                             "Smart Edge=0",
                                             "Glow Intensity=1.5",
                                             "Bevel Depth=0=60;2=240",
                                             "-consumer",
                                             "avformat:" + at("melt%d.png"),
                                             "vcodec=png",
                                             "pix_fmt=rgba",
                                             "real_time=0"},
                                            withPlugin());
    ASSERT_EQ(result.status, 0) << result.out;
    lumetRender(
        "--preset Platinum --frames 3 --first-frame 0 --set 'Light Angle=250' "
        "--set 'Transparency=30' --set 'Shadow Color=#FF2000' --set 'Smart Edge=off' "
        "--set 'Glow Intensity=1.5' --key 'Bevel Depth@0=60' --key 'Bevel Depth@2=240'",
        "lumet%04d.png");
    for (int frame = 0; frame < 3; ++frame) {
        expectSameFrame("melt" + std::to_string(frame + 1) + ".png", numbered("lumet", frame),
                        "melt frame " + std::to_string(frame));
    }
}

}  // namespace
}  // namespace lumet::testing
