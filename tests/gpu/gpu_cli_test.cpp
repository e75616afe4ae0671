// lumet render --device through the real command and plug-in binary: `cpu` starts no OpenCL
// runtime and renders what a machine without OpenCL renders, silently; `auto` starts the machine's
// device, names it on standard error, and renders within the whole-frame tolerance of the CPU.
#include <gtest/gtest.h>

#ifdef LUMET_CLI_PATH
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gpu/gpu_context.h"
#include "gpu_test_support.h"

namespace lumet {
namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;  // standard output and standard error
};

Result run(const std::string& environment, const std::string& args) {
    const std::string command =
        environment + " " + std::string(LUMET_CLI_PATH) + " render " + args + " 2>&1";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<unsigned char> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// The 8-bit RGBA pixels of a PNG as 0..1 values; empty when it cannot be read.
std::vector<float> readPngPixels(const fs::path& path, std::uint32_t& width,
                                 std::uint32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGBA;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
        png_image_free(&image);
        return {};
    }
    width = image.width;
    height = image.height;
    std::vector<float> pixels(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) pixels[i] = bytes[i] / 255.0f;
    return pixels;
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

class DeviceOption : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lumet_gpu_cli_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

// Gold without its glow (the GPU glow is another blur chain by design; the in-process frame tests
// compare it), flattened onto black (no division by small alphas in the PNG), small and at low
// quality: the POCL device is slow.
const std::string kFrame =
    "--text Lu --size 160x90 --preset Gold --set 'Glow Intensity=0' --quality low "
    "--background '#000000' --quiet";

TEST_F(DeviceOption, CpuRendersAsWithoutOpenClAndAutoNamesTheDevice) {
    const std::string name = deviceName();
    ASSERT_FALSE(name.empty());
    // Neither the switch nor a vendor list from the test's own environment reaches the command.
    const std::string clean = "env -u LUMET_OPENCL -u OCL_ICD_VENDORS";

    const Result cpu = run(clean, kFrame + " --device cpu -o " + at("cpu.png"));
    ASSERT_EQ(cpu.status, 0) << cpu.out;
    EXPECT_EQ(cpu.out, "") << "the CPU render writes nothing";

    // OpenCL hidden from the loader: an empty vendor list, so no platform and no driver.
    const Result hidden = run(clean + " OCL_ICD_VENDORS=" + at("no-vendors"),
                              kFrame + " --device auto -o " + at("hidden.png"));
    ASSERT_EQ(hidden.status, 0) << hidden.out;
    EXPECT_EQ(hidden.out, "");
    const std::vector<unsigned char> cpuBytes = bytesOf(at("cpu.png"));
    ASSERT_GT(cpuBytes.size(), 100u);
    EXPECT_EQ(cpuBytes, bytesOf(at("hidden.png")));

    const Result gpu = run(clean, kFrame + " --device auto -o " + at("auto.png"));
    ASSERT_EQ(gpu.status, 0) << gpu.out;
    const std::string line = "Lumet GPU: OpenCL ready on " + name + "\n";
    EXPECT_EQ(occurrences(gpu.out, line), 1u) << gpu.out;
    EXPECT_EQ(occurrences(gpu.out, "Lumet GPU"), 1u) << gpu.out;

    std::uint32_t cw = 0, ch = 0, gw = 0, gh = 0;
    const std::vector<float> onCpu = readPngPixels(at("cpu.png"), cw, ch);
    const std::vector<float> onGpu = readPngPixels(at("auto.png"), gw, gh);
    ASSERT_EQ(cw, 160u);
    ASSERT_EQ(ch, 90u);
    ASSERT_EQ(gw, cw);
    ASSERT_EQ(gh, ch);
    ASSERT_EQ(onGpu.size(), onCpu.size());
    const testing::ErrorMeasure e =
        testing::compareFloats(onGpu.data(), onCpu.data(), static_cast<std::int64_t>(onCpu.size()));
    // The whole-frame tolerance of the smart path: its GPU normals (7 x 7 taps) differ from the
    // CPU's by design, close on average, with local differences along steep rims (a few pixels
    // of a bright map's reflection can move by most of the range, so no maximum is bounded).
    EXPECT_LT(e.mean, 0.006);
    std::vector<float> differences(onCpu.size());
    for (std::size_t i = 0; i < onCpu.size(); ++i) differences[i] = std::fabs(onGpu[i] - onCpu[i]);
    std::nth_element(differences.begin(), differences.begin() + differences.size() * 99 / 100,
                     differences.end());
    EXPECT_LT(differences[differences.size() * 99 / 100], 0.05) << "99th percentile";
    // ...but the frames are not the same frame: the device did render.
    EXPECT_GT(e.mean, 0.0);
}

TEST_F(DeviceOption, RejectsAnUnknownDevice) {
    const Result result = run("", kFrame + " --device gpu -o " + at("x.png"));
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.out.find("--device: \"gpu\" is not auto or cpu"), std::string::npos)
        << result.out;
    EXPECT_FALSE(fs::exists(at("x.png")));
}

}  // namespace
}  // namespace lumet
#endif
