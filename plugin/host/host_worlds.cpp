// Effect worlds as image views, their depth from the host's world suite.
#include "host/host_worlds.h"

#include "AE_EffectCBSuites.h"
#include "SPBasic.h"

namespace lumet {

std::int32_t pixelDepthOf(const PF_EffectWorld& world) {
    if (static_cast<std::int64_t>(world.rowbytes) >= static_cast<std::int64_t>(world.width) * 16)
        return kDepthFloat;
    if (world.world_flags & PF_WorldFlag_DEEP) return kDepth16;
    return kDepth8;
}

std::int32_t worldDepth(const PF_InData* in_data, const PF_EffectWorld& world) {
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    const void* acquired = nullptr;
    if (!basic || !basic->AcquireSuite ||
        basic->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &acquired) != kSPNoError ||
        !acquired)
        return pixelDepthOf(world);
    const auto* suite = static_cast<const PF_WorldSuite2*>(acquired);
    PF_PixelFormat format = PF_PixelFormat_INVALID;
    const bool known =
        suite->PF_GetPixelFormat && suite->PF_GetPixelFormat(&world, &format) == PF_Err_NONE;
    basic->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
    if (known && format == PF_PixelFormat_ARGB32) return kDepth8;
    if (known && format == PF_PixelFormat_ARGB64) return kDepth16;
    if (known && format == PF_PixelFormat_ARGB128) return kDepthFloat;
    return pixelDepthOf(world);
}

ImageView worldView(const PF_InData* in_data, const PF_EffectWorld& world) {
    ImageView view;
    if (!world.data || world.width < 1 || world.height < 1) return view;
    view.data = world.data;
    view.rowBytes = world.rowbytes;
    view.width = world.width;
    view.height = world.height;
    view.format = argbFormat(worldDepth(in_data, world));
    return view;
}

PF_Err hostError(const Status& status) {
    switch (status.code) {
        case StatusCode::kOk:
            return PF_Err_NONE;
        case StatusCode::kOutOfMemory:
            return PF_Err_OUT_OF_MEMORY;
        case StatusCode::kInterrupted:
            return status.hostAnswer;
        case StatusCode::kBadInput:
            return PF_Err_BAD_CALLBACK_PARAM;
        case StatusCode::kFailed:
            break;
    }
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
}

}  // namespace lumet
