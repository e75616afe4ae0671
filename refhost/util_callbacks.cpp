// The host's utility callbacks: a complete table, so that an effect reading any slot finds a
// callable function.
#include "refhost/util_callbacks.h"

#include <cmath>
#include <cstddef>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace refhost {
namespace {

// A handle is a pointer to a block that starts with its size; *handle is the data after it.
struct HandleBlock {
    A_u_longlong size;
    void* data;
};

PF_Handle newHandle(A_u_longlong size) {
    auto* block = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    if (!block) return nullptr;
    block->size = size;
    block->data = std::calloc(size ? static_cast<std::size_t>(size) : 1, 1);
    if (!block->data) {
        std::free(block);
        return nullptr;
    }
    return &block->data;
}

HandleBlock* blockOf(PF_Handle handle) {
    return reinterpret_cast<HandleBlock*>(reinterpret_cast<char*>(handle) -
                                          offsetof(HandleBlock, data));
}

void* lockHandle(PF_Handle handle) { return handle ? *handle : nullptr; }
void unlockHandle(PF_Handle) {}
void disposeHandle(PF_Handle handle) {
    if (!handle) return;
    HandleBlock* block = blockOf(handle);
    std::free(block->data);
    std::free(block);
}
A_u_longlong handleSize(PF_Handle handle) { return handle ? blockOf(handle)->size : 0; }
PF_Err resizeHandle(A_u_longlong size, PF_Handle* handle) {
    if (!handle || !*handle) return PF_Err_BAD_CALLBACK_PARAM;
    HandleBlock* block = blockOf(*handle);
    void* data = std::realloc(block->data, size ? static_cast<std::size_t>(size) : 1);
    if (!data) return PF_Err_OUT_OF_MEMORY;
    if (size > block->size) {
        std::memset(static_cast<char*>(data) + block->size, 0,
                    static_cast<std::size_t>(size - block->size));
    }
    block->data = data;
    block->size = size;
    return PF_Err_NONE;
}

PF_Err iterateGeneric(A_long iterations, void* refcon,
                      PF_Err (*function)(void*, A_long, A_long, A_long)) {
    if (!function) return PF_Err_BAD_CALLBACK_PARAM;
    for (A_long i = 0; i < iterations; ++i) {
        if (PF_Err err = function(refcon, 0, i, iterations)) return err;
    }
    return PF_Err_NONE;
}

int ansiSprintf(A_char* out, const A_char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vsprintf(out, format, args);
    va_end(args);
    return n;
}
A_char* ansiStrcpy(A_char* out, const A_char* in) { return std::strcpy(out, in); }

PF_Err application(PF_ProgPtr, A_long, ...) { return PF_Err_BAD_CALLBACK_PARAM; }

// Every other slot: a function of the slot's own signature that declines.
template <typename Function>
struct Declines;
template <typename... Arguments>
struct Declines<PF_Err (*)(Arguments...)> {
    static PF_Err call(Arguments...) { return PF_Err_BAD_CALLBACK_PARAM; }
};
template <typename Function>
void decline(Function& slot) {
    slot = &Declines<Function>::call;
}

PF_UtilCallbacks makeTable() {
    PF_UtilCallbacks t;
    std::memset(&t, 0, sizeof(t));
    decline(t.begin_sampling);
    decline(t.subpixel_sample);
    decline(t.area_sample);
    decline(t.end_sampling);
    decline(t.composite_rect);
    decline(t.blend);
    decline(t.convolve);
    decline(t.copy);
    decline(t.fill);
    decline(t.gaussian_kernel);
    decline(t.iterate);
    decline(t.premultiply);
    decline(t.premultiply_color);
    decline(t.new_world);
    decline(t.dispose_world);
    decline(t.iterate_origin);
    decline(t.iterate_lut);
    decline(t.transfer_rect);
    decline(t.transform_world);
    t.host_new_handle = &newHandle;
    t.host_lock_handle = &lockHandle;
    t.host_unlock_handle = &unlockHandle;
    t.host_dispose_handle = &disposeHandle;
    decline(t.get_callback_addr);
    t.app = &application;
    t.ansi.atan = [](A_FpLong x) { return std::atan(x); };
    t.ansi.atan2 = [](A_FpLong y, A_FpLong x) { return std::atan2(y, x); };
    t.ansi.ceil = [](A_FpLong x) { return std::ceil(x); };
    t.ansi.cos = [](A_FpLong x) { return std::cos(x); };
    t.ansi.exp = [](A_FpLong x) { return std::exp(x); };
    t.ansi.fabs = [](A_FpLong x) { return std::fabs(x); };
    t.ansi.floor = [](A_FpLong x) { return std::floor(x); };
    t.ansi.fmod = [](A_FpLong x, A_FpLong y) { return std::fmod(x, y); };
    t.ansi.hypot = [](A_FpLong x, A_FpLong y) { return std::hypot(x, y); };
    t.ansi.log = [](A_FpLong x) { return std::log(x); };
    t.ansi.log10 = [](A_FpLong x) { return std::log10(x); };
    t.ansi.pow = [](A_FpLong x, A_FpLong y) { return std::pow(x, y); };
    t.ansi.sin = [](A_FpLong x) { return std::sin(x); };
    t.ansi.sqrt = [](A_FpLong x) { return std::sqrt(x); };
    t.ansi.tan = [](A_FpLong x) { return std::tan(x); };
    t.ansi.sprintf = &ansiSprintf;
    t.ansi.strcpy = &ansiStrcpy;
    t.ansi.asin = [](A_FpLong x) { return std::asin(x); };
    t.ansi.acos = [](A_FpLong x) { return std::acos(x); };
    decline(t.colorCB.RGBtoHLS);
    decline(t.colorCB.HLStoRGB);
    decline(t.colorCB.RGBtoYIQ);
    decline(t.colorCB.YIQtoRGB);
    decline(t.colorCB.Luminance);
    decline(t.colorCB.Hue);
    decline(t.colorCB.Lightness);
    decline(t.colorCB.Saturation);
    decline(t.get_platform_data);
    t.host_get_handle_size = &handleSize;
    decline(t.iterate_origin_non_clip_src);
    t.iterate_generic = &iterateGeneric;
    t.host_resize_handle = &resizeHandle;
    decline(t.subpixel_sample16);
    decline(t.area_sample16);
    decline(t.fill16);
    decline(t.premultiply_color16);
    decline(t.iterate16);
    decline(t.iterate_origin16);
    decline(t.iterate_origin_non_clip_src16);
    decline(t.get_pixel_data8);
    decline(t.get_pixel_data16);
    return t;
}

}  // namespace

void fillUnofferedInteractCallbacks(PF_InteractCallbacks& inter) {
    decline(inter.register_ui);
    decline(inter.checkout_layer_audio);
    decline(inter.checkin_layer_audio);
    decline(inter.get_audio_data);
}

const PF_UtilCallbacks* utilCallbacks() {
    static const PF_UtilCallbacks table = makeTable();
    return &table;
}

}  // namespace refhost
