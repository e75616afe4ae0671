// Whole frames through the in-process effect with the OpenCL runtime ready: a render that finds
// the GPU taken, which must stay on the CPU and give the CPU's exact bytes; a frame without the GPU
// that must leave no stale copy on the device; the release of the device's groups while a render
// holds the GPU; and several host threads rendering at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "gpu/gpu_context.h"
#include "gpu/gpu_ops.h"
#include "gpu_test_support.h"
#include "parallel/blur.h"
#include "params/param_ids.h"
#include "render/frame_report.h"
#include "render/render_caches.h"
#include "render/render_harness.h"
#include "render/render_locks.h"

namespace lumet {
namespace {

enum class Protocol { kSmart, kPlain };

// Premultiplied white blobs with a darker band, as the input layer.
void setBlobLayer(refhost::Host& host, std::int32_t width, std::int32_t height) {
    const std::vector<std::uint8_t> alpha = testing::blobAlpha(width, height, 7);
    std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4);
    for (std::int32_t i = 0; i < width * height; ++i) {
        const float a = alpha[i] / 255.0f;
        const float shade = (i / width) % 9 < 3 ? 0.5f : 1.0f;
        rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = shade * a;
        rgba[4 * i + 3] = a;
    }
    host.setLayer(PARAM_INPUT, refhost::worldFromRgba(rgba.data(), width, height, 8, 12));
}

struct FrameSetup {
    std::int32_t width, height;
    bool highQuality;
};

// A frame of the letter layer with the Gold preset and a visible glow; `gpu` tells whether the
// frame held the GPU.
std::vector<float> renderFrame(refhost::Host& host, Protocol protocol, const FrameSetup& setup,
                               bool* gpu = nullptr) {
    setBlobLayer(host, setup.width, setup.height);
    refhost::FrameOptions options;
    options.bitsPerChannel = 32;
    options.highQuality = setup.highQuality;
    refhost::RenderedFrame frame;
    const PF_Err err = protocol == Protocol::kSmart
                           ? refhost::renderSmartFrame(host, options, frame)
                           : refhost::renderPlainFrame(host, options, frame);
    EXPECT_EQ(err, PF_Err_NONE);
    if (gpu) *gpu = lastFrameReport().gpu;
    return err == PF_Err_NONE ? refhost::rgbaFromWorld(*frame.output.world(), 32)
                              : std::vector<float>();
}

void chooseLook(refhost::Host& host, double glowIntensity) {
    host.params().setValue(PARAM_PRESET, 1);
    host.changeParam(PARAM_PRESET);
    host.params().setValue(PARAM_GLOW_INTENSITY, glowIntensity);
    host.params().setValue(PARAM_GLOW_RADIUS, 12.0);
    host.params().setValue(PARAM_BLUR, 0.0);  // a sharp map: no Gaussian in the map preparation
}

// While one thread holds the GPU (and uses it), a render on another thread cannot take the lock:
// every stage, the geometry's own GPU offers included, runs on the CPU, byte for byte as a render
// without any runtime. (No glow: a render without the lock would wait for it around its glow.)
TEST(GpuFrames, ARenderWithoutTheGpuLockStaysOnTheCpuWhileAnotherUsesTheGpu) {
    auto host = render_test::makeInProcessHost();
    chooseLook(*host, 0.0);
    const FrameSetup setup{64, 40, true};
    ReleaseRenderCaches();
    gpu::shutdownGpuRuntime();
    const std::vector<float> cpuReference = renderFrame(*host, Protocol::kPlain, setup);
    testing::requireGpuRuntime();
    ReleaseRenderCaches();
    // A plain frame of this size with another bevel, on the GPU: the render below then finds its
    // cache sized (a reallocation would wait for the GPU lock to free the device's groups) and
    // recomputes every stage for the changed geometry.
    const double depth = host->params().numberAt(PARAM_BEVEL_DEPTH, 0.0);
    host->params().setValue(PARAM_BEVEL_DEPTH, depth * 0.5);
    bool warmUpUsedGpu = false;
    renderFrame(*host, Protocol::kPlain, setup, &warmUpUsedGpu);
    EXPECT_TRUE(warmUpUsedGpu);
    host->params().setValue(PARAM_BEVEL_DEPTH, depth);

    const std::vector<float> source = testing::randomPlane(128 * 96, 31);
    std::vector<float> cpuBlurred = source;
    threePassBoxBlur(cpuBlurred.data(), 128, 96, 7);

    ASSERT_TRUE(TryEnterGpuLock());
    std::atomic<bool> done{false};
    std::vector<float> rendered;
    bool renderUsedGpu = true;
    std::thread other([&] {
        rendered = renderFrame(*host, Protocol::kPlain, setup, &renderUsedGpu);
        done = true;
    });
    int gpuBlurs = 0, exactBlurs = 0;
    while (!done || gpuBlurs == 0) {
        std::vector<float> plane = source;
        ASSERT_TRUE(gpu::blurPlaneGpu(plane.data(), 128, 96, 7));
        exactBlurs += testing::sameBits(plane, cpuBlurred) ? 1 : 0;
        ++gpuBlurs;
    }
    other.join();
    LeaveGpuLock();
    EXPECT_FALSE(renderUsedGpu);
    EXPECT_EQ(exactBlurs, gpuBlurs);
    ASSERT_EQ(rendered.size(), cpuReference.size());
    EXPECT_EQ(std::memcmp(rendered.data(), cpuReference.data(), rendered.size() * sizeof(float)),
              0);
}

// A frame that finds the GPU taken renders on the CPU and makes a new geometry; the next frame,
// on the GPU again with that geometry, must not reflect the copy the device kept from before: it
// is the frame rendered on the CPU alone.
TEST(GpuFrames, AFrameWithoutTheGpuLeavesNoStaleCopyOnTheDevice) {
    auto host = render_test::makeInProcessHost();
    chooseLook(*host, 0.0);
    testing::requireGpuRuntime();
    ReleaseRenderCaches();
    const FrameSetup setup{64, 40, false};
    bool usedGpu = false;
    renderFrame(*host, Protocol::kSmart, setup, &usedGpu);
    ASSERT_TRUE(usedGpu);

    host->params().setValue(PARAM_BEVEL_DEPTH, 40.0);
    std::atomic<int> holder{0};
    std::thread other([&] {
        EnterGpuLock();
        holder = 1;
        while (holder != 2) std::this_thread::yield();
        LeaveGpuLock();
    });
    while (holder != 1) std::this_thread::yield();
    renderFrame(*host, Protocol::kSmart, setup, &usedGpu);
    holder = 2;
    other.join();
    ASSERT_FALSE(usedGpu);

    host->params().setValue(PARAM_ROTATION_X, 10.0);  // the reflection again, the geometry kept
    const std::vector<float> inSequence = renderFrame(*host, Protocol::kSmart, setup, &usedGpu);
    ASSERT_TRUE(usedGpu);
    EXPECT_FALSE(lastFrameReport().geometryRan);
    ReleaseRenderCaches();
    gpu::shutdownGpuRuntime();
    const render_test::ImageDifference d =
        render_test::compare(renderFrame(*host, Protocol::kSmart, setup), inSequence);
    testing::requireGpuRuntime();
    EXPECT_EQ(d.maxError, 0.0);
}

// The release of the render caches (a plain render's reallocation, global set-down) frees the
// device's reflection and shading groups only once the render holding the GPU lock is done.
TEST(GpuFrames, ReleasingTheRenderCachesWaitsForTheRenderHoldingTheGpu) {
    auto host = render_test::makeInProcessHost();
    chooseLook(*host, 0.0);
    testing::requireGpuRuntime();
    ReleaseRenderCaches();
    bool usedGpu = false;
    renderFrame(*host, Protocol::kPlain, {64, 40, false}, &usedGpu);
    ASSERT_TRUE(usedGpu);
    const gpu::GpuContext& context = gpu::gpuContext;
    ASSERT_TRUE(context.reflValid);
    ASSERT_TRUE(context.shadeValid);

    ASSERT_TRUE(TryEnterGpuLock());
    std::atomic<int> releaser{0};
    std::thread other([&] {
        releaser = 1;
        platform::LockGuard guard(nonSmartCacheLock());
        ReleaseRenderCaches();
        releaser = 2;
    });
    while (releaser == 0) std::this_thread::yield();
    // Device work while the other thread waits: far longer than an unguarded release takes.
    std::vector<float> plane = testing::randomPlane(128 * 96, 5);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(gpu::blurPlaneGpu(plane.data(), 128, 96, 9));
    EXPECT_EQ(releaser.load(), 1);
    EXPECT_TRUE(context.reflValid);
    EXPECT_TRUE(context.shadeValid);
    EXPECT_NE(context.shadeAlpha, nullptr);
    LeaveGpuLock();
    other.join();
    EXPECT_EQ(releaser.load(), 2);
    EXPECT_FALSE(context.reflValid);
    EXPECT_FALSE(context.shadeValid);
    EXPECT_EQ(context.reflNormals, nullptr);
}

// Several host threads render at once with the OpenCL runtime ready: whichever render gets the
// stage cache and the GPU uses them, the others work on the CPU with planes of their own, and
// every frame is the frame rendered alone.
TEST(ConcurrentRender, OpenClFramesOnSeveralThreadsMatchTheFramesAlone) {
    testing::requireGpuRuntime();
    constexpr int kThreads = 3, kFramesPerThread = 3;
    auto setupOf = [](int t, int f) {
        return FrameSetup{48 + 16 * t, 32 + 8 * f, (t + f) % 2 == 0};
    };
    std::vector<std::vector<std::vector<float>>> alone(kThreads);
    {
        auto host = render_test::makeInProcessHost();
        chooseLook(*host, 0.4);
        for (int t = 0; t < kThreads; ++t) {
            for (int f = 0; f < kFramesPerThread; ++f) {
                ReleaseRenderCaches();
                alone[t].push_back(renderFrame(*host, Protocol::kSmart, setupOf(t, f)));
            }
        }
    }
    std::vector<std::unique_ptr<refhost::Host>> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.push_back(render_test::makeInProcessHost());
        chooseLook(*hosts.back(), 0.4);
    }
    testing::requireGpuRuntime();
    std::vector<std::vector<std::vector<float>>> together(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int f = 0; f < kFramesPerThread; ++f) {
                const Protocol protocol = (t + f) % 3 == 2 ? Protocol::kPlain : Protocol::kSmart;
                together[t].push_back(renderFrame(*hosts[t], protocol, setupOf(t, f)));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    hosts.clear();
    testing::requireGpuRuntime();
    for (int t = 0; t < kThreads; ++t) {
        for (int f = 0; f < kFramesPerThread; ++f) {
            SCOPED_TRACE(::testing::Message() << "thread " << t << ", frame " << f);
            EXPECT_EQ(render_test::compare(together[t][f], alone[t][f]).maxError, 0.0);
        }
    }
}

// On a device whose floats may differ from the CPU's, frames rendered at once do not fall back to
// the CPU: each waits for the device (and the stage cache its buffers follow), so every frame of
// an animation comes from the same device, on both protocols.
TEST(ConcurrentRender, FramesWaitForADeviceThatDoesNotMatchTheCpu) {
    gpu::shutdownGpuRuntime();
    gpu::treatDeviceAsInexactForTesting(true);
    testing::requireGpuRuntime();
    gpu::treatDeviceAsInexactForTesting(false);
    EXPECT_FALSE(framesMayLeaveTheGpu());
    constexpr int kThreads = 3, kFramesPerThread = 3;
    std::vector<std::unique_ptr<refhost::Host>> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.push_back(render_test::makeInProcessHost());
        chooseLook(*hosts.back(), 0.0);
    }
    std::atomic<int> onDevice{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int f = 0; f < kFramesPerThread; ++f) {
                bool gpu = false;
                const Protocol protocol = (t + f) % 2 ? Protocol::kPlain : Protocol::kSmart;
                renderFrame(*hosts[t], protocol, {40 + 8 * t, 32, f % 2 == 0}, &gpu);
                if (gpu) ++onDevice;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    hosts.clear();
    gpu::shutdownGpuRuntime();
    testing::requireGpuRuntime();
    EXPECT_TRUE(framesMayLeaveTheGpu());
    EXPECT_EQ(onDevice.load(), kThreads * kFramesPerThread);
}

}  // namespace
}  // namespace lumet
