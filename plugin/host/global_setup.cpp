// Global set-up and set-down.
#include "host/global_setup.h"

#include "AE_ComputeCacheSuite.h"
#include "AE_Effect.h"
#include "AE_HashSuite.h"
#include "host/env_map_cache.h"
#include "gpu/gpu_runtime.h"
#include "host/effect_identity.h"
#include "render/render_caches.h"
#include "render/render_locks.h"

namespace lumet {

static_assert(kEffectVersionWord == PF_VERSION(1, 0, 0, 3, 1));
static_assert(kEffectOutFlags == (PF_OutFlag_I_EXPAND_BUFFER | PF_OutFlag_DEEP_COLOR_AWARE |
                                  PF_OutFlag_SEND_UPDATE_PARAMS_UI));
static_assert(kEffectOutFlags2 ==
              (PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG | PF_OutFlag2_REVEALS_ZERO_ALPHA |
               PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
               PF_OutFlag2_SUPPORTS_THREADED_RENDERING));

namespace {

// The compute-cache suite through the in data's basic suite, or null when either is missing.
// Releases the suite when it goes out of scope.
class ComputeCacheSuite {
public:
    explicit ComputeCacheSuite(const PF_InData* in_data)
        : basic_(in_data ? in_data->pica_basicP : nullptr) {
        if (!basic_ || !basic_->AcquireSuite || !basic_->ReleaseSuite) return;
        const void* raw = nullptr;
        if (basic_->AcquireSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1, &raw) ==
                kSPNoError &&
            raw) {
            suite_ = static_cast<const AEGP_ComputeCacheSuite1*>(raw);
        }
    }
    ~ComputeCacheSuite() {
        if (suite_) basic_->ReleaseSuite(kAEGPComputeCacheSuite, kAEGPComputeCacheSuiteVersion1);
    }
    ComputeCacheSuite(const ComputeCacheSuite&) = delete;
    ComputeCacheSuite& operator=(const ComputeCacheSuite&) = delete;

    const AEGP_ComputeCacheSuite1* get() const { return suite_; }

private:
    SPBasicSuite* basic_;
    const AEGP_ComputeCacheSuite1* suite_ = nullptr;
};

// In the order the host's callback record declares them.
const AEGP_ComputeCacheCallbacks kEnvMapCallbacks = {envMapCacheKey, envMapCacheCompute,
                                                     envMapCacheSize, envMapCacheDelete};

}  // namespace

PF_Err globalSetup(const PF_InData* in_data, PF_OutData* out_data) {
    out_data->my_version = kEffectVersionWord;
    out_data->out_flags = static_cast<PF_OutFlags>(kEffectOutFlags);
    out_data->out_flags2 = static_cast<PF_OutFlags2>(kEffectOutFlags2);

    createRenderLocks();
    if (!gpu::gpuRuntimeReady()) gpu::startGpuRuntime();

    ComputeCacheSuite cache(in_data);
    if (cache.get() && cache.get()->AEGP_ClassRegister) {
        cache.get()->AEGP_ClassRegister(kEnvMapCacheClassId, &kEnvMapCallbacks);
    }
    return PF_Err_NONE;
}

void globalSetdown(const PF_InData* in_data) {
    {
        ComputeCacheSuite cache(in_data);
        if (cache.get() && cache.get()->AEGP_ClassUnregister) {
            cache.get()->AEGP_ClassUnregister(kEnvMapCacheClassId);
        }
    }
    {
        platform::LockGuard guard(nonSmartCacheLock());
        ReleaseRenderCaches();
    }
    gpu::shutdownGpuRuntime();
}

}  // namespace lumet
