// lumet render --device through the real command and plug-in binary: `cpu` starts no OpenCL
// runtime and renders what a machine without OpenCL renders, silently; `auto` starts the machine's
// device, names it on standard error, and renders the CPU's bytes on it, however many frames
// render at once.
#include <gtest/gtest.h>

#ifdef LUMET_CLI_PATH
#include <filesystem>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "end-to-end/command_runner.h"
#include "gpu/gpu_context.h"
#include "gpu_test_support.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

using Result = testing::CommandResult;  // standard output and standard error

// Neither the switch nor a vendor list from the test's own environment reaches the command,
// unless `vendors` names one.
Result run(const std::string& args, std::optional<std::string> vendors = std::nullopt) {
    testing::RunOptions options;
    options.environment = {{"LUMET_OPENCL", std::nullopt}, {"OCL_ICD_VENDORS", vendors}};
    return testing::runLumet("render " + args, options);
}

std::vector<unsigned char> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// The OpenCL device's name as the runtime of this process finds it (the same driver the command
// loads).
std::string deviceName() {
    testing::requireGpuRuntime();
    char name[256] = {};
    gpu::cl.clGetDeviceInfo(gpu::gpuContext.device, CL_DEVICE_NAME, sizeof name - 1, name, nullptr);
    return name;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

using DeviceOption = testing::CommandFolderTest;

// Gold without its glow, flattened onto black, small and at low quality: the POCL device is slow.
const std::string kFrame =
    "--text Lu --size 160x90 --preset Gold --set 'Glow Intensity=0' --quality low "
    "--background '#000000' --quiet";

TEST_F(DeviceOption, CpuAndAutoRenderAsWithoutOpenClAndOpenClNamesTheDevice) {
    const std::string name = deviceName();
    ASSERT_FALSE(name.empty());

    const Result cpu = run(kFrame + " --device cpu -o " + at("cpu.png"));
    ASSERT_EQ(cpu.status, 0) << cpu.out;
    EXPECT_EQ(cpu.out, "") << "the CPU render writes nothing";

    // OpenCL hidden from the loader: an empty vendor list, so no platform and no driver.
    const Result hidden = run(kFrame + " --device opencl -o " + at("hidden.png"), at("no-vendors"));
    ASSERT_EQ(hidden.status, 0) << hidden.out;
    EXPECT_EQ(hidden.out, "");
    const std::vector<unsigned char> cpuBytes = bytesOf(at("cpu.png"));
    ASSERT_GT(cpuBytes.size(), 100u);
    EXPECT_EQ(cpuBytes, bytesOf(at("hidden.png")));

    // The default leaves a CPU device (POCL) alone: no OpenCL, the CPU's bytes.
    for (const std::string device : {"", " --device auto"}) {
        const Result automatic = run(kFrame + device + " -o " + at("default.png"));
        ASSERT_EQ(automatic.status, 0) << automatic.out;
        EXPECT_EQ(automatic.out, "") << device;
        EXPECT_EQ(bytesOf(at("default.png")), cpuBytes) << device;
    }

    const Result gpu = run(kFrame + " --device opencl -o " + at("auto.png"));
    ASSERT_EQ(gpu.status, 0) << gpu.out;
    const std::string line = "Lumet GPU: OpenCL ready on " + name + " (CPU device)\n";
    EXPECT_EQ(occurrences(gpu.out, line), 1u) << gpu.out;
    EXPECT_EQ(occurrences(gpu.out, "Lumet GPU"), 1u) << gpu.out;

    // The device computes the CPU's floats: its frame is the CPU's byte for byte.
    EXPECT_EQ(bytesOf(at("auto.png")), cpuBytes);
}

// Frames rendered three at once on the device (one of them holds it, the others render on the
// CPU) are the frames of one job: an animation keyed on the light, the bevel and the glow, with
// thin serif strokes and the bevel's creases, at both qualities.
TEST_F(DeviceOption, JobsOnTheDeviceGiveTheBytesOfOneJob) {
    for (const std::string quality : {"low", "high"}) {
        SCOPED_TRACE(quality);
        const std::string animation =
            "--text 'Wavy' --font /usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf --size 200x90 "
            "--preset Gold --frames 6 --key 'Light Angle@0=0' --key 'Light Angle@5=150' "
            "--key 'Bevel Depth@0=60' --key 'Bevel Depth@5=220' --key 'Glow Radius@0=10' "
            "--key 'Glow Radius@5=40' --quality " +
            quality + " --device opencl --quiet -o ";
        const Result one = run(animation + at(quality + "_one_%d.png") + " --jobs 1");
        ASSERT_EQ(one.status, 0) << one.out;
        const Result three = run(animation + at(quality + "_three_%d.png") + " --jobs 3");
        ASSERT_EQ(three.status, 0) << three.out;
        for (int frame = 0; frame < 6; ++frame) {
            const std::vector<unsigned char> alone =
                bytesOf(at(quality + "_one_" + std::to_string(frame) + ".png"));
            ASSERT_GT(alone.size(), 100u);
            EXPECT_EQ(bytesOf(at(quality + "_three_" + std::to_string(frame) + ".png")), alone)
                << "frame " << frame;
        }
    }
}

// Under an address-space limit (a farm's or a container's) no device choice crashes: a frame
// renders or is refused as out of memory (exit 1), also with frames rendered at once.
TEST_F(DeviceOption, AnAddressSpaceLimitRefusesFramesWithoutACrash) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space for its shadow memory";
#endif
    for (const std::uint64_t megabytes : {500, 900, 1400, 2200}) {
        for (const std::string device : {"cpu", "opencl", "opencl --host ofx"}) {
            testing::RunOptions options;
            options.environment = {{"LUMET_OPENCL", std::nullopt}};
            options.addressSpaceLimit = megabytes << 20;
            const Result r = testing::runLumet(
                "render --text Lumet --size 2560x1440 --preset Gold --quiet --frames 2 --jobs 2 "
                "--device " + device + " -o " + at("m_%d.png"),
                options);
            EXPECT_TRUE(r.status == 0 || r.status == 1)
                << megabytes << " MB, " << device << ": " << r.status << " " << r.out;
        }
    }
}

TEST_F(DeviceOption, RejectsAnUnknownDevice) {
    const Result result = run(kFrame + " --device gpu -o " + at("x.png"));
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.out.find("--device: gpu not in {auto,cpu,opencl}"), std::string::npos)
        << result.out;
    EXPECT_FALSE(fs::exists(at("x.png")));
}

}  // namespace
}  // namespace lumet
#endif
