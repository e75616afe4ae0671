// SmartRender: one frame of the smart protocol. The frame's settings from pre-render, the layer's
// coverage and windows, the environment map from the host's compute cache, the stage cache and
// the GPU; then the frame pipeline. Every exit returns the host's resources.
#include "host/smart_render.h"

#include <algorithm>
#include <cstring>

#include "envmap/env_map.h"
#include "host/env_map_cache.h"
#include "host/frame_setup.h"
#include "host/host_worlds.h"
#include "params/param_ids.h"
#include "platform/plane.h"
#include "render/frame_pipeline.h"
#include "render/frame_report.h"
#include "render/render_locks.h"
#include "render/render_stages.h"
#include "render/stage_cache.h"

namespace lumet {

namespace {

constexpr A_long kInputCheckoutId = 0;
constexpr A_long kCustomMapCheckoutId = PARAM_CUSTOM_MAP;

// Everything a frame borrows from the host, handed back in one place on every exit: the GPU lock
// first, then the stage cache lock, the custom layer, the input, the compute receipt and the
// suite.
class FrameResources {
public:
    FrameResources(PF_InData* inData, PF_SmartRenderExtra* extra) : in_(inData), extra_(extra) {}
    FrameResources(const FrameResources&) = delete;
    FrameResources& operator=(const FrameResources&) = delete;
    ~FrameResources() { releaseAll(); }

    void inputCheckedOut() { input_ = true; }
    void customCheckedOut() { custom_ = true; }
    void suiteAcquired(const SPBasicSuite* basic, const AEGP_ComputeCacheSuite1* suite) {
        basic_ = basic;
        suite_ = suite;
    }
    void receiptCheckedOut(AEGP_CCCheckoutReceiptP receipt) { receipt_ = receipt; }
    void smartCacheLockTaken() { smartCacheLock_ = true; }

    void releaseAll() {
        gpuLock.leave();
        if (smartCacheLock_) LeaveSmartCacheLock();
        smartCacheLock_ = false;
        if (custom_) extra_->cb->checkin_layer_pixels(in_->effect_ref, kCustomMapCheckoutId);
        custom_ = false;
        if (input_) extra_->cb->checkin_layer_pixels(in_->effect_ref, kInputCheckoutId);
        input_ = false;
        if (receipt_) suite_->AEGP_CheckinComputeReceipt(receipt_);
        receipt_ = nullptr;
        if (suite_) basic_->ReleaseSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1);
        suite_ = nullptr;
    }

private:
    PF_InData* in_;
    PF_SmartRenderExtra* extra_;
    bool input_ = false;
    bool custom_ = false;
    const SPBasicSuite* basic_ = nullptr;
    const AEGP_ComputeCacheSuite1* suite_ = nullptr;
    AEGP_CCCheckoutReceiptP receipt_ = nullptr;
    bool smartCacheLock_ = false;

public:
    FrameGpuLock gpuLock;
};

// The frame's environment map, computed or found in the host's compute cache and checked out
// for the frame, with its key: the map is known by its key, since the host may reuse the address
// of an evicted map's record.
PF_Err checkOutEnvMap(PF_InData* in_data, const RenderSettings& settings,
                      const PF_EffectWorld* customLayer, FrameResources& resources,
                      FrameJob& job) {
    const SPBasicSuite* basic = in_data->pica_basicP;
    const void* suiteData = nullptr;
    if (!basic ||
        basic->AcquireSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1, &suiteData) !=
            kSPNoError ||
        !suiteData) {
        throw static_cast<PF_Err>(A_Err_MISSING_SUITE);
    }
    const auto* cacheSuite = static_cast<const AEGP_ComputeCacheSuite1*>(suiteData);
    resources.suiteAcquired(basic, cacheSuite);
    EnvMapCacheOptions options{basic,
                               settings.hdriMap,
                               settings.envBlur,
                               kEnvW,
                               kEnvH,
                               customLayer,
                               in_data->current_time,
                               customLayer ? worldView(in_data, *customLayer) : ImageView{}};
    // The host's error is passed on (a compute that ran out of memory is out of memory); a
    // success without a receipt or a value is a damaged cache.
    AEGP_CCCheckoutReceiptP receipt = nullptr;
    if (const A_Err err = cacheSuite->AEGP_ComputeIfNeededAndCheckout(kEnvMapCacheClassId, &options,
                                                                      true, &receipt))
        return err;
    if (!receipt) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    resources.receiptCheckedOut(receipt);
    AEGP_CCComputeValueRefconP value = nullptr;
    if (const A_Err err = cacheSuite->AEGP_GetReceiptComputeValue(receipt, &value)) return err;
    if (!value) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    job.env = *static_cast<const EnvMap*>(value);
    AEGP_GUID key{};
    if (envMapCacheKey(&options, &key) == A_Err_NONE) {
        static_assert(sizeof key == sizeof job.envKey.bytes);
        std::memcpy(job.envKey.bytes, &key, sizeof key);
        job.envKey.known = true;
    }
    return PF_Err_NONE;
}

PF_Err renderFrame(PF_InData* in_data, PF_SmartRenderExtra* extra) {
    // 1. The frame's settings from pre-render.
    if (!in_data || !extra || !extra->input || !extra->cb || !extra->input->pre_render_data) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    // The caches compare the frame's own values; the stages compute with finite ones.
    const RenderSettings frameSettings =
        *static_cast<const RenderSettings*>(extra->input->pre_render_data);
    const RenderSettings settings = withFiniteValues(frameSettings);
    FrameResources resources(in_data, extra);

    // 2, 3. Input and output buffers.
    PF_EffectWorld* input = nullptr;
    PF_Err err = extra->cb->checkout_layer_pixels(in_data->effect_ref, kInputCheckoutId, &input);
    if (err != PF_Err_NONE) return err;
    resources.inputCheckedOut();
    if (!input) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    PF_EffectWorld* output = nullptr;
    err = extra->cb->checkout_output(in_data->effect_ref, &output);
    if (err != PF_Err_NONE) return err;
    if (!output) return PF_Err_INTERNAL_STRUCT_DAMAGED;

    // 4, 5. Sizes and the placement of the input in the output.
    const std::int32_t W = output->width, H = output->height;
    const std::int32_t iw = input->width, ih = input->height;
    if (W < 1 || H < 1 || iw < 1 || ih < 1) return PF_Err_NONE;
    std::int32_t dx = settings.inputRect[0] - settings.outputRect[0];
    std::int32_t dy = settings.inputRect[1] - settings.outputRect[1];
    if (dx < 0 || dx >= W) dx = 0;
    if (dy < 0 || dy >= H) dy = 0;

    // 6. The custom map layer, checked out under the id pre-render requested it with. A layer
    // without pixels leaves the map to its fallback; a failed checkout fails the frame.
    const PF_EffectWorld* customLayer = nullptr;
    if (settings.hdriMap == kCustomMap) {
        PF_EffectWorld* layer = nullptr;
        err = extra->cb->checkout_layer_pixels(in_data->effect_ref, kCustomMapCheckoutId, &layer);
        if (err != PF_Err_NONE) return err;
        resources.customCheckedOut();
        if (layer && layer->data) customLayer = layer;
    }

    // 7. Working size.
    FrameJob job;
    if (!startFrameJob(job, frameSettings, settings, in_data->quality == PF_Quality_HI,
                       previewScaleOf(in_data), worldView(in_data, *output), {}, iw, ih, dx, dy))
        return PF_Err_OUT_OF_MEMORY;
    job.interrupt = hostInterrupt(in_data);
    const FrameInterruptScope interruptible(job.interrupt);

    // 8, 9. The layer's alpha where it lands in the frame, the windows its covered pixels give,
    // the coverage over them and its identity.
    FrameCoverage coverage;
    bool finished = false;
    err = hostError(placeLayer(worldView(in_data, *input), job, coverage, finished));
    if (err != PF_Err_NONE || finished) return err;

    // 10. The environment map from the host's compute cache. Its compute asks the host too; a
    // compute cut short fails with the host's answer, so the host keeps no map cut short.
    err = checkOutEnvMap(in_data, settings, customLayer, resources, job);
    if (err != PF_Err_NONE) return err;

    // 12. The stage cache, when no other render is using it; otherwise this frame works on planes
    // of its own, all stale, and gives the same frame. The GPU, whose kept buffers follow the
    // stage cache, only with the cache, when its runtime is ready and no other render holds it;
    // on a device whose floats are not the CPU's, the frame waits for both instead.
    bool sharedCache = TryEnterSmartCacheLock();
    if (!sharedCache && !framesMayLeaveTheGpu()) {
        EnterSmartCacheLock();
        sharedCache = true;
    }
    if (sharedCache) resources.smartCacheLockTaken();
    StageCache ownCache;
    if (sharedCache) resources.gpuLock.take();

    // 13 - 20. The stages the cache finds stale, and the output.
    return hostError(
        runFramePipeline(sharedCache ? smartStageCache() : ownCache, job, resources.gpuLock));
}

}  // namespace

PF_Err SmartRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_SmartRenderExtra* extra) {
    return reportedFrame(RenderPath::kSmart, [&] { return renderFrame(in_data, extra); });
}

}  // namespace lumet
