// Failure injection over every fallible site of a frame: the k-th plane request, the k-th host
// callback and the k-th OpenCL call of a smart and a plain frame, with and without the glow and a
// custom map, on the CPU and on the OpenCL device. Each frame starts from empty caches (so that
// every site of a first frame is reached) and must answer what the effect defines for that
// failure; the host must get back every checkout and suite, and the next frame must be the fresh
// frame bit for bit. An OpenCL call that fails midway leaves the stage to the CPU: the frame is
// then the CPU's. (Leaks of the effect's own memory are AddressSanitizer's to find.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <tuple>
#include <type_traits>

#include "AE_EffectCBSuites.h"
#include "AE_ComputeCacheSuite.h"
#include "AE_HashSuite.h"
#include "gpu/gpu_runtime.h"
#include "gpu/opencl_api.h"
#include "platform/plane.h"
#include "platform/platform.h"
#include "refhost/callback_faults.h"
#include "refhost/compute_cache.h"
#include "render/frame_report.h"
#include "render/instance_render.h"
#include "render/render_caches.h"
#include "render/render_harness.h"
#include "render/render_locks.h"
#include "render/stage_cache.h"

namespace lumet {
namespace {

using render_test::letterShape;

// What the host answers when the injected callback fails: a value the effect has no reason to
// make itself, so that passing it on is seen.
constexpr PF_Err kHostError = 0x4C55;
constexpr std::int64_t kCountOnly = INT64_MAX;

// ---- OpenCL: the process's entry points wrapped, each call counted, the k-th one failed ----

gpu::OpenClEntryPoints realEntryPoints;
std::atomic<std::int64_t> openClFailAt{0}, openClCalls{0};

template <typename Result, typename... Arguments>
Result failedCall(Arguments... arguments) {
    if constexpr (std::is_same_v<Result, cl_int>) {
        return CL_OUT_OF_RESOURCES;
    } else {  // an object: null, with the error in its last argument
        cl_int* error = std::get<sizeof...(Arguments) - 1>(std::tie(arguments...));
        if (error) *error = CL_OUT_OF_RESOURCES;
        return nullptr;
    }
}

template <auto Member, typename Function, bool Fallible>
struct CountedCall;
template <auto Member, typename Result, typename... Arguments, bool Fallible>
struct CountedCall<Member, Result(CL_API_CALL*)(Arguments...), Fallible> {
    static Result CL_API_CALL call(Arguments... arguments) {
        const std::int64_t failAt = openClFailAt.load();
        if (failAt > 0 && ++openClCalls == failAt && Fallible)
            return failedCall<Result>(arguments...);
        return (realEntryPoints.*Member)(arguments...);
    }
};

template <auto Member, bool Fallible = true>
void wrap() {
    using Function = std::remove_reference_t<decltype(gpu::cl.*Member)>;
    gpu::cl.*Member = &CountedCall<Member, Function, Fallible>::call;
}

// Releases are counted but never fail: a driver does not refuse to release.
void wrapOpenClEntryPoints() {
    using E = gpu::OpenClEntryPoints;
    realEntryPoints = gpu::cl;
    wrap<&E::clGetPlatformIDs>(), wrap<&E::clGetDeviceIDs>(), wrap<&E::clGetDeviceInfo>();
    wrap<&E::clCreateContext>(), wrap<&E::clCreateCommandQueue>();
    wrap<&E::clCreateProgramWithSource>(), wrap<&E::clBuildProgram>();
    wrap<&E::clGetProgramBuildInfo>(), wrap<&E::clCreateKernel>(), wrap<&E::clSetKernelArg>();
    wrap<&E::clEnqueueNDRangeKernel>(), wrap<&E::clEnqueueReadBuffer>();
    wrap<&E::clEnqueueWriteBuffer>(), wrap<&E::clCreateBuffer>(), wrap<&E::clFinish>();
    wrap<&E::clReleaseMemObject, false>(), wrap<&E::clReleaseKernel, false>();
    wrap<&E::clReleaseProgram, false>(), wrap<&E::clReleaseCommandQueue, false>();
    wrap<&E::clReleaseContext, false>();
}

void failOpenClCall(std::int64_t failAt) {
    openClFailAt = 0;
    openClCalls = 0;
    openClFailAt = failAt;
}

// ---- the sweep ----

enum class Kind { kPlane, kCallback, kOpenCl };
const char* const kKindNames[] = {"plane requests", "host callbacks", "OpenCL calls"};

void arm(Kind kind, std::int64_t failAt) {
    if (kind == Kind::kPlane) failPlaneRequest(failAt);
    if (kind == Kind::kCallback) refhost::failHostCallback(failAt, kHostError);
    if (kind == Kind::kOpenCl) failOpenClCall(failAt);
}

std::int64_t counted(Kind kind) {
    if (kind == Kind::kPlane) return planeRequestsCounted();
    if (kind == Kind::kCallback) return refhost::hostCallbacksCounted();
    return openClCalls.load();
}

// The frame's answer to a failed host callback: the host's error passed on, or the effect's own
// for a missing suite. The effect's key of the map it checked out is a hint: without the hash
// suite the frame goes on with an unknown key (and so the same pixels).
struct CallbackAnswer {
    PF_Err err;
    bool mayGoOn;
};
const std::map<std::string, CallbackAnswer> kCallbackAnswers = {
    {"checkout_param", {kHostError, false}},
    {"checkout_layer", {kHostError, false}},
    {"checkout_layer_pixels", {kHostError, false}},
    {"checkout_output", {kHostError, false}},
    {"output world allocation", {kHostError, false}},
    {"AEGP_ComputeIfNeededAndCheckout", {kHostError, false}},
    {"AEGP_GetReceiptComputeValue", {kHostError, false}},
    {std::string("AcquireSuite ") + kAEGPComputeCacheSuite, {A_Err_MISSING_SUITE, false}},
    {std::string("AcquireSuite ") + kAEGPHashSuite, {A_Err_MISSING_SUITE, true}},
    // Without the world suite the depth comes from the world's layout: the same frame.
    {std::string("AcquireSuite ") + kPFWorldSuite, {kHostError, true}},
    {"AEGP_CreateHashFromPtr", {kHostError, true}},
    {"AEGP_HashMixInPtr", {kHostError, true}},
};

// A scene with cold maps starts each frame without the prepared environment map too, which
// makes it a first frame in every respect; the others keep the map (preparing one takes most of
// a small frame's time) and start with every other cache empty. A custom map is prepared (and
// sent to the device) for every frame: those scenes fail every stride-th site, each in turn
// over the runs (the run's number picks the first), unless LUMET_FULL_FAULT_SWEEP is set.
struct Scene {
    const char* name;
    bool smart, glow, customMap, opencl, coldMaps;
    int stride;
};

std::int64_t strideOf(const Scene& scene) {
    return std::getenv("LUMET_FULL_FAULT_SWEEP") ? 1 : scene.stride;
}

class FaultSweep : public ::testing::TestWithParam<Scene> {
protected:
    static void SetUpTestSuite() {
        host_ = render_test::makeInProcessHost().release();
        gpu::startGpuRuntime();
        if (gpu::gpuRuntimeReady()) wrapOpenClEntryPoints();
    }
    static void TearDownTestSuite() {
        delete host_;
        host_ = nullptr;
    }

    void SetUp() override {
        const Scene& scene = GetParam();
        if (scene.opencl) gpu::startGpuRuntime();
        if (!scene.opencl) gpu::shutdownGpuRuntime();
        if (scene.opencl && !gpu::gpuRuntimeReady()) GTEST_SKIP() << "no OpenCL device";
        refhost::Host& host = *host_;
        host.params().resetToDefaults();
        host.clearFailures();
        host.params().setValue(PARAM_GLOW_INTENSITY, scene.glow ? 0.6 : 0.0);
        host.params().setValue(PARAM_GLOW_RADIUS, 6.0);
        host.params().setValue(PARAM_BLUR, 0.05);  // a small map blur: the Gaussian runs, briefly
        render_test::setLetterLayer(host, 40, 24);
        if (scene.customMap) {
            host.params().setValue(PARAM_HDRI_MAP, 10);
            const std::vector<float> map = letterShape(24, 12, 3.0f);
            host.setLayer(PARAM_CUSTOM_MAP, refhost::worldFromRgba(map.data(), 24, 12, 8, 4));
        }
        options_.highQuality = scene.smart;  // both supersampling factors
        options_.bitsPerChannel = 16;
    }
    void TearDown() override {
        arm(Kind::kPlane, 0), arm(Kind::kCallback, 0), arm(Kind::kOpenCl, 0);
        host_->removeLayer(PARAM_CUSTOM_MAP);
    }

    // The caches emptied as before a first frame: the stage caches and the device's kept copies
    // of their planes; with cold maps also the prepared maps of both paths.
    void emptyCaches() {
        if (!GetParam().coldMaps) {
            platform::LockGuard guard(nonSmartCacheLock());
            emptyStageCache(smartStageCache());
            emptyStageCache(nonSmartCache().stages);
            gpu::releaseGpuReflectionBuffers();
            gpu::releaseGpuShadingBuffers();
            return;
        }
        ReleaseRenderCaches();
        refhost::ComputeCache& cache = refhost::ComputeCache::shared();
        cache.setBudget(0);
        cache.setBudget(refhost::ComputeCache::kDefaultBudgetBytes);
    }

    PF_Err render(std::vector<std::uint16_t>* pixels = nullptr) {
        refhost::RenderedFrame frame;
        const PF_Err err = GetParam().smart ? refhost::renderSmartFrame(*host_, options_, frame)
                                            : refhost::renderPlainFrame(*host_, options_, frame);
        EXPECT_EQ(frame.layerCheckoutsLeftOpen, 0);
        EXPECT_EQ(host_->openParamCheckouts(), 0);
        EXPECT_EQ(refhost::ComputeCache::shared().stats().openReceipts, 0u);
        for (const char* suite : {kAEGPComputeCacheSuite, kAEGPHashSuite})
            EXPECT_EQ(host_->suites().outstanding(suite, 1), 0) << suite;
        if (pixels && err == PF_Err_NONE) {
            const PF_EffectWorld& world = *frame.output.world();
            pixels->clear();
            for (A_long y = 0; y < world.height; ++y) {
                const auto* row = reinterpret_cast<const std::uint16_t*>(
                    reinterpret_cast<const char*>(world.data) + std::int64_t{y} * world.rowbytes);
                pixels->insert(pixels->end(), row, row + 4 * world.width);
            }
        }
        return err;
    }

    // Fails each site of `kind` in turn and checks the frame's answer and the next frame; returns
    // the number of sites.
    std::int64_t sweep(Kind kind) {
        const Scene& scene = GetParam();
        std::vector<std::uint16_t> fresh, pixels;
        if (!scene.coldMaps) render();  // this scene's map, kept
        emptyCaches();
        arm(kind, kCountOnly);
        EXPECT_EQ(render(&fresh), PF_Err_NONE);
        const std::int64_t sites = counted(kind);
        arm(kind, 0);
        EXPECT_EQ(lastFrameReport().gpu, scene.opencl);
        const std::int64_t stride = strideOf(scene);
        // LUMET_FAULT_SWEEP_FIRST repeats a run's subset (the first site it failed).
        const char* forced = std::getenv("LUMET_FAULT_SWEEP_FIRST");
        const std::int64_t first = forced
                                       ? std::max<std::int64_t>(1, std::atoll(forced))
                                       : 1 + static_cast<std::int64_t>(std::time(nullptr)) % stride;
        for (std::int64_t k = first; k <= sites; k += stride) {
            SCOPED_TRACE(std::string(kKindNames[int(kind)]) + " #" + std::to_string(k));
            emptyCaches();
            const std::uint64_t refusedBefore = planeRequestsRefused();
            arm(kind, k);
            const PF_Err err = render(&pixels);
            const std::string site = refhost::failedHostCallback();
            arm(kind, 0);
            if (kind == Kind::kPlane && planeRequestsRefused() == refusedBefore) {
                // The frame made fewer requests than the counted one (the device may still
                // hold what the caches let go of, such as the map it was sent): nothing failed.
                EXPECT_EQ(err, PF_Err_NONE);
                EXPECT_TRUE(pixels == fresh);
            } else {
                expectAnswer(kind, err, site, pixels, fresh);
            }
            pixels.clear();
            if (render(&pixels) != PF_Err_NONE || pixels != fresh) {
                ADD_FAILURE() << "the next frame is not the fresh frame";
                break;
            }
        }
        std::printf("[ sites    ] %s, %s: %lld, failed from #%lld in steps of %lld\n", scene.name,
                    kKindNames[int(kind)], static_cast<long long>(sites),
                    static_cast<long long>(first), static_cast<long long>(stride));
        return sites;
    }

    static void expectAnswer(Kind kind, PF_Err err, const std::string& site,
                             const std::vector<std::uint16_t>& pixels,
                             const std::vector<std::uint16_t>& fresh) {
        if (kind == Kind::kOpenCl) {
            // The stage that failed on the device runs on the CPU.
            EXPECT_EQ(err, PF_Err_NONE);
            EXPECT_TRUE(pixels == fresh) << "not the CPU's frame";
        } else if (kind == Kind::kPlane) {
            // A stage that skipped work for want of a plane makes the frame out of memory.
            EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
        } else {
            const auto answer = kCallbackAnswers.find(site);
            ASSERT_NE(answer, kCallbackAnswers.end()) << "an unexpected callback failed: " << site;
            if (err == PF_Err_NONE && answer->second.mayGoOn) {
                EXPECT_TRUE(pixels == fresh) << site;
            } else {
                EXPECT_EQ(err, answer->second.err) << site;
            }
        }
    }

    static inline refhost::Host* host_ = nullptr;
    refhost::FrameOptions options_;
};

TEST_P(FaultSweep, EverySiteFailsCleanly) {
    const Scene& scene = GetParam();
    EXPECT_GT(sweep(Kind::kPlane), 0);
    if (scene.opencl) {
        EXPECT_GT(sweep(Kind::kOpenCl), 0);
    } else {
        // Only the smart protocol calls back to the host without a custom map.
        const std::int64_t callbacks = sweep(Kind::kCallback);
        EXPECT_TRUE(callbacks > 0 || !(scene.smart || scene.customMap));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FaultSweep,
    ::testing::Values(Scene{"smart, glow, custom map, CPU", true, true, true, false, true, 4},
                      Scene{"smart, plain look, CPU", true, false, false, false, false, 1},
                      Scene{"plain, glow, custom map, CPU", false, true, true, false, true, 4},
                      Scene{"plain, plain look, CPU", false, false, false, false, false, 1},
                      Scene{"smart, glow, custom map, OpenCL", true, true, true, true, false, 32},
                      Scene{"smart, plain look, OpenCL", true, false, false, true, false, 3},
                      Scene{"plain, glow, custom map, OpenCL", false, true, true, true, false, 32},
                      Scene{"plain, plain look, OpenCL", false, false, false, true, false, 3}),
    [](const ::testing::TestParamInfo<Scene>& info) {
        return std::string(info.param.smart ? "Smart" : "Plain") +
               (info.param.glow ? "GlowCustomMap" : "PlainLook") +
               (info.param.opencl ? "OpenCl" : "Cpu");
    });

}  // namespace
}  // namespace lumet
