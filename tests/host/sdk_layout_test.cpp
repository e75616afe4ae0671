// The host SDK records as the host lays them out on 64-bit Windows: every size, alignment,
// member offset and member size, and every constant's value, written out as fixed numbers (members
// that follow each other without a gap as a run from the first one's offset). A declaration that
// drifts from the host's binary layout stops this file from compiling.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "A.h"
#include "AE_ComputeCacheSuite.h"
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_HashSuite.h"
#include "AE_PluginData.h"
#include "SPBasic.h"

namespace {

#define SIZE_ALIGN(T, size, align)          \
    static_assert(sizeof(T) == (size), #T); \
    static_assert(alignof(T) == (align), #T)
#define MEMBER(T, m, offset, size)                        \
    static_assert(offsetof(T, m) == (offset), #T "." #m); \
    static_assert(sizeof(((T*)nullptr)->m) == (size), #T "." #m)
// A scalar: size and alignment both `size`, and its signedness.
#define SCALAR(T, size, isSigned) \
    SIZE_ALIGN(T, size, size);    \
    static_assert(std::is_signed_v<T> == (isSigned), #T)

// Consecutive members of T, each `size` bytes: the first at `first`, each next one `size` bytes
// further, in the order given. A member out of place fails at pinRun's evaluation, which shows the
// offsets and sizes it was given.
consteval bool pinRun(std::size_t size, std::size_t first,
                      std::initializer_list<std::size_t> offsetsAndSizes) {
    for (auto it = offsetsAndSizes.begin(); it != offsetsAndSizes.end(); it += 2, first += size)
        if (it[0] != first || it[1] != size) throw "a member of the run is out of place";
    return true;
}
#define PIN_EACH(T, m, ...) \
    offsetof(T, m), sizeof(((T*)nullptr)->m) __VA_OPT__(, PIN_AGAIN PIN_PARENS(T, __VA_ARGS__))
#define PIN_AGAIN() PIN_EACH
#define PIN_PARENS ()
#define PIN_EXPAND(...) PIN_EXPAND2(PIN_EXPAND2(PIN_EXPAND2(PIN_EXPAND2(__VA_ARGS__))))
#define PIN_EXPAND2(...) PIN_EXPAND1(PIN_EXPAND1(PIN_EXPAND1(PIN_EXPAND1(__VA_ARGS__))))
#define PIN_EXPAND1(...) PIN_RESCAN(PIN_RESCAN(PIN_RESCAN(PIN_RESCAN(__VA_ARGS__))))
#define PIN_RESCAN(...) __VA_ARGS__
// Members of T that follow each other without a gap, each with its size: the first at `first`.
consteval bool pinFields(std::size_t at, std::initializer_list<std::size_t> offsetSizeAndWant) {
    for (auto it = offsetSizeAndWant.begin(); it != offsetSizeAndWant.end(); it += 3, at += it[-1])
        if (it[0] != at || it[1] != it[2]) throw "a member is out of place or of another size";
    return true;
}
#define FIELD_EACH(T, m, size, ...)           \
    offsetof(T, m), sizeof(((T*)nullptr)->m), \
        std::size_t(size) __VA_OPT__(, FIELD_AGAIN PIN_PARENS(T, __VA_ARGS__))
#define FIELD_AGAIN() FIELD_EACH
#define FIELDS(T, first, ...) \
    static_assert(pinFields(first, {PIN_EXPAND(FIELD_EACH(T, __VA_ARGS__))}), #T " from " #first)
// Scalars of one size and signedness; types of a pointer's size and alignment.
#define SCALAR_EACH(size, isSigned, T, ...) \
    SCALAR(T, size, isSigned) __VA_OPT__(; SCALAR_AGAIN PIN_PARENS(size, isSigned, __VA_ARGS__))
#define SCALAR_AGAIN() SCALAR_EACH
#define SCALARS(size, isSigned, ...) PIN_EXPAND(SCALAR_EACH(size, isSigned, __VA_ARGS__))
#define POINTER_EACH(T, ...) SIZE_ALIGN(T, 8, 8) __VA_OPT__(; POINTER_AGAIN PIN_PARENS(__VA_ARGS__))
#define POINTER_AGAIN() POINTER_EACH
#define POINTER_SIZED(...) PIN_EXPAND(POINTER_EACH(__VA_ARGS__))
// Constants, each with its value: VALUES(name, value, name, value, ...).
#define VALUE_EACH(name, value, ...) \
    static_assert((name) == (value), #name) __VA_OPT__(; VALUE_AGAIN PIN_PARENS(__VA_ARGS__))
#define VALUE_AGAIN() VALUE_EACH
#define VALUES(...) PIN_EXPAND(VALUE_EACH(__VA_ARGS__))
#define MEMBERS(T, size, first, ...) \
    static_assert(pinRun(size, first, {PIN_EXPAND(PIN_EACH(T, __VA_ARGS__))}), #T " from " #first)

// The ANSI functions, in the suite and in the utility callbacks alike.
#define ANSI_FUNCTIONS(T)                                                                         \
    MEMBERS(T, 8, 0, atan, atan2, ceil, cos, exp, fabs, floor, fmod, hypot, log, log10, pow, sin, \
            sqrt, tan, sprintf, strcpy, asin, acos)

// Scalar types.
SCALARS(4, true, A_long, A_FpShort, A_Err, PF_Err, PF_Fixed, PF_ParamIndex, PF_ParamValue,
        PF_Quality, PF_OutFlags, PF_OutFlags2, PF_InFlags, PF_ParamFlags, PF_ParamUIFlags,
        PF_ChangeFlags, PF_WorldFlags, PF_ParamType, PF_Field, PF_ChannelMask, PF_FpShort, PF_Cmd,
        SPErr, PF_GPU_Framework);
SCALARS(4, false, A_u_long, PF_FSliderFlags, PF_UFixed);
SCALARS(2, true, A_short, PF_RenderOutputFlags, PF_ValueDisplayFlags);
SCALARS(2, false, A_u_short);
SCALARS(1, true, A_char, PF_Boolean);
SCALARS(1, false, A_u_char, A_Boolean);
SCALARS(8, true, A_FpLong, PF_FpLong);
SCALARS(8, false, A_u_longlong);
POINTER_SIZED(PF_Handle, PF_PixelPtr, PF_ProgPtr, PF_PluginDataPtr, AEGP_CCComputeClassIdP,
              AEGP_CCComputeKeyP, AEGP_CCComputeOptionsRefconP, AEGP_CCComputeValueRefconP,
              AEGP_CCCheckoutReceiptP);
// The basic suite's boolean is the Windows BOOL; elsewhere the SDK makes it one unsigned byte.
#if defined(_WIN32) || defined(LUMET_HOST_SDK)
SCALAR(SPBoolean, 4, true);
#else
SCALAR(SPBoolean, 1, false);
#endif

SIZE_ALIGN(PF_Point, 8, 4);
FIELDS(PF_Point, 0, h, 4, v, 4);

SIZE_ALIGN(PF_LRect, 16, 4);
MEMBERS(PF_LRect, 4, 0, left, top, right, bottom);

SIZE_ALIGN(PF_RationalScale, 8, 4);
FIELDS(PF_RationalScale, 0, num, 4, den, 4);

SIZE_ALIGN(PF_Pixel, 4, 1);
MEMBERS(PF_Pixel, 1, 0, alpha, red, green, blue);

SIZE_ALIGN(PF_Pixel16, 8, 2);
MEMBERS(PF_Pixel16, 2, 0, alpha, red, green, blue);

SIZE_ALIGN(PF_PixelFloat, 16, 4);
MEMBERS(PF_PixelFloat, 4, 0, alpha, red, green, blue);

SIZE_ALIGN(PF_SpecVersion, 4, 2);
FIELDS(PF_SpecVersion, 0, major, 2, minor, 2);

SIZE_ALIGN(PF_LayerDef, 120, 8);
FIELDS(PF_LayerDef, 0, reserved0, 8, reserved1, 8, world_flags, 4);
MEMBER(PF_LayerDef, data, 24, 8);
MEMBERS(PF_LayerDef, 4, 32, rowbytes, width, height);
MEMBER(PF_LayerDef, extent_hint, 44, 16);
FIELDS(PF_LayerDef, 64, platform_ref, 8, reserved_long1, 4);
MEMBERS(PF_LayerDef, 8, 80, reserved_long4, pix_aspect_ratio, reserved_long2);
MEMBERS(PF_LayerDef, 4, 104, origin_x, origin_y, reserved_long3, dephault);

SIZE_ALIGN(PF_AngleDef, 16, 4);
MEMBERS(PF_AngleDef, 4, 0, value, dephault, valid_min, valid_max);

SIZE_ALIGN(PF_CheckBoxDef, 16, 8);
FIELDS(PF_CheckBoxDef, 0, value, 4, dephault, 1, reserved, 1, reserved1, 2, u, 8);

SIZE_ALIGN(PF_ColorDef, 8, 1);
FIELDS(PF_ColorDef, 0, value, 4, dephault, 4);

SIZE_ALIGN(PF_PopupDef, 16, 8);
FIELDS(PF_PopupDef, 0, value, 4, num_choices, 2, dephault, 2, u, 8);

SIZE_ALIGN(PF_FloatSliderDef, 88, 8);
FIELDS(PF_FloatSliderDef, 0, value, 8, phase, 8, value_desc, 32);
MEMBERS(PF_FloatSliderDef, 4, 48, valid_min, valid_max, slider_min, slider_max, dephault);
FIELDS(PF_FloatSliderDef, 68, precision, 2, display_flags, 2, fs_flags, 4, curve_tolerance, 4,
       useExponent, 1);
MEMBER(PF_FloatSliderDef, exponent, 84, 4);

SIZE_ALIGN(PF_ParamDefUnion, 120, 8);
MEMBER(PF_ParamDefUnion, ld, 0, 120);
MEMBER(PF_ParamDefUnion, ad, 0, 16);
MEMBER(PF_ParamDefUnion, bd, 0, 16);
MEMBER(PF_ParamDefUnion, cd, 0, 8);
MEMBER(PF_ParamDefUnion, pd, 0, 16);
MEMBER(PF_ParamDefUnion, fs_d, 0, 88);

SIZE_ALIGN(PF_ParamDef, 176, 8);
FIELDS(PF_ParamDef, 0, uu, 4, ui_flags, 4, ui_width, 2, ui_height, 2, param_type, 4, name, 32,
       flags, 4, unused, 4, u, 120);

SIZE_ALIGN(PF_InteractCallbacks, 176, 8);
MEMBERS(PF_InteractCallbacks, 8, 0, checkout_param, checkin_param, add_param, abort, progress,
        register_ui, checkout_layer_audio, checkin_layer_audio, get_audio_data);
FIELDS(PF_InteractCallbacks, 72, reserved_str, 24, reserved, 80);

SIZE_ALIGN(PF_SoundWorld, 32, 8);

SIZE_ALIGN(PF_InData, 408, 8);
FIELDS(PF_InData, 0, inter, 176, utils, 8, effect_ref, 8);
MEMBERS(PF_InData, 4, 192, quality, version, serial_num, appl_id, num_params, reserved, what_cpu,
        what_fpu, current_time, time_step, total_time, local_time_step, time_scale, field,
        shutter_angle, width, height);
FIELDS(PF_InData, 260, extent_hint, 16, output_origin_x, 4, output_origin_y, 4);
MEMBERS(PF_InData, 8, 284, downsample_x, downsample_y, pixel_aspect_ratio);
MEMBER(PF_InData, in_flags, 308, 4);
MEMBERS(PF_InData, 8, 312, global_data, sequence_data, frame_data);
MEMBERS(PF_InData, 4, 336, start_sampL, dur_sampL, total_sampL);
FIELDS(PF_InData, 352, src_snd, 32, pica_basicP, 8);
MEMBERS(PF_InData, 4, 392, pre_effect_source_origin_x, pre_effect_source_origin_y, shutter_phase);

SIZE_ALIGN(PF_OutData, 408, 8);
FIELDS(PF_OutData, 0, my_version, 4, name, 32);
FIELDS(PF_OutData, 40, global_data, 8, num_params, 4);
FIELDS(PF_OutData, 56, sequence_data, 8, flat_sdata_size, 4);
FIELDS(PF_OutData, 72, frame_data, 8, width, 4, height, 4, origin, 8, out_flags, 4, return_msg, 256,
       start_sampL, 4, dur_sampL, 4);
FIELDS(PF_OutData, 368, dest_snd, 32, out_flags2, 4);

SIZE_ALIGN(PF_UserChangedParamExtra, 4, 4);
MEMBER(PF_UserChangedParamExtra, param_index, 0, 4);

SIZE_ALIGN(PF_RenderRequest, 44, 4);
FIELDS(PF_RenderRequest, 0, rect, 16, field, 4, channel_mask, 4, preserve_rgb_of_zero_alpha, 1,
       unused, 3, reserved, 16);

SIZE_ALIGN(PF_CheckoutResult, 76, 4);
FIELDS(PF_CheckoutResult, 0, result_rect, 16, max_result_rect, 16, par, 8, solid, 1, reservedB, 3,
       ref_width, 4, ref_height, 4, reserved, 24);

SIZE_ALIGN(PF_PreRenderInput, 64, 8);
FIELDS(PF_PreRenderInput, 0, output_request, 44, bitdepth, 2);
FIELDS(PF_PreRenderInput, 48, gpu_data, 8, what_gpu, 4, device_index, 4);

SIZE_ALIGN(PF_PreRenderOutput, 56, 8);
FIELDS(PF_PreRenderOutput, 0, result_rect, 16, max_result_rect, 16, solid, 1, reserved, 1, flags,
       2);
FIELDS(PF_PreRenderOutput, 40, pre_render_data, 8, delete_pre_render_data_func, 8);

SIZE_ALIGN(PF_PreRenderCallbacks, 16, 8);
FIELDS(PF_PreRenderCallbacks, 0, checkout_layer, 8, GuidMixInPtr, 8);

SIZE_ALIGN(PF_PreRenderExtra, 24, 8);
MEMBERS(PF_PreRenderExtra, 8, 0, input, output, cb);

SIZE_ALIGN(PF_SmartRenderInput, 72, 8);
FIELDS(PF_SmartRenderInput, 0, output_request, 44, bitdepth, 2);
FIELDS(PF_SmartRenderInput, 48, pre_render_data, 8, gpu_data, 8, what_gpu, 4, device_index, 4);

SIZE_ALIGN(PF_SmartRenderCallbacks, 24, 8);
MEMBERS(PF_SmartRenderCallbacks, 8, 0, checkout_layer_pixels, checkin_layer_pixels,
        checkout_output);

SIZE_ALIGN(PF_SmartRenderExtra, 16, 8);
FIELDS(PF_SmartRenderExtra, 0, input, 8, cb, 8);

SIZE_ALIGN(SPBasicSuite, 56, 8);
MEMBERS(SPBasicSuite, 8, 0, AcquireSuite, ReleaseSuite, IsEqual, AllocateBlock, FreeBlock,
        ReallocateBlock, Undefined);

SIZE_ALIGN(PF_ANSICallbacksSuite1, 152, 8);
ANSI_FUNCTIONS(PF_ANSICallbacksSuite1);

SIZE_ALIGN(AEGP_GUID, 16, 4);
MEMBER(AEGP_GUID, bytes, 0, 16);

SIZE_ALIGN(AEGP_ComputeCacheCallbacks, 32, 8);
MEMBERS(AEGP_ComputeCacheCallbacks, 8, 0, generate_key, compute, approx_size_value,
        delete_compute_value);

SIZE_ALIGN(AEGP_ComputeCacheSuite1, 48, 8);
MEMBERS(AEGP_ComputeCacheSuite1, 8, 0, AEGP_ClassRegister, AEGP_ClassUnregister,
        AEGP_ComputeIfNeededAndCheckout, AEGP_CheckoutCached, AEGP_GetReceiptComputeValue,
        AEGP_CheckinComputeReceipt);

SIZE_ALIGN(AEGP_HashSuite1, 16, 8);
SIZE_ALIGN(PF_WorldSuite2, 24, 8);
static_assert(offsetof(PF_WorldSuite2, PF_GetPixelFormat) == 16);
static_assert(PF_PixelFormat_ARGB32 == 0x62677261 && PF_PixelFormat_ARGB64 == 0x36316561 &&
              PF_PixelFormat_ARGB128 == 0x32336561);
FIELDS(AEGP_HashSuite1, 0, AEGP_CreateHashFromPtr, 8, AEGP_HashMixInPtr, 8);

// Constants.
VALUES(PF_AE_PLUG_IN_VERSION, 13, PF_AE_PLUG_IN_SUBVERS, 28);
VALUES(PF_MAX_EFFECT_NAME_LEN, 31, PF_MAX_EFFECT_MSG_LEN, 255, PF_MAX_EFFECT_PARAM_NAME_LEN, 31);
static_assert(PF_VERSION(1, 0, 0, 3, 1) == 525825, "PF_VERSION(1,0,0,3,1)");
static_assert(PF_VERSION(13, 0, 0, 3, 1) == 69731841, "PF_VERSION(13,0,0,3,1)");
static_assert(PF_VERSION(15, 7, 3, 2, 511) == 71015935, "PF_VERSION(15,7,3,2,511)");
VALUES(PF_Cmd_ABOUT, 0, PF_Cmd_GLOBAL_SETUP, 1, PF_Cmd_GLOBAL_SETDOWN, 3, PF_Cmd_PARAMS_SETUP, 4,
       PF_Cmd_SEQUENCE_SETUP, 5, PF_Cmd_SEQUENCE_RESETUP, 6, PF_Cmd_SEQUENCE_FLATTEN, 7,
       PF_Cmd_SEQUENCE_SETDOWN, 8, PF_Cmd_DO_DIALOG, 9, PF_Cmd_FRAME_SETUP, 10, PF_Cmd_RENDER, 11,
       PF_Cmd_FRAME_SETDOWN, 12, PF_Cmd_USER_CHANGED_PARAM, 13, PF_Cmd_UPDATE_PARAMS_UI, 14,
       PF_Cmd_EVENT, 15, PF_Cmd_GET_EXTERNAL_DEPENDENCIES, 16, PF_Cmd_COMPLETELY_GENERAL, 17,
       PF_Cmd_QUERY_DYNAMIC_FLAGS, 18, PF_Cmd_AUDIO_RENDER, 19, PF_Cmd_AUDIO_SETUP, 20,
       PF_Cmd_AUDIO_SETDOWN, 21, PF_Cmd_ARBITRARY_CALLBACK, 22, PF_Cmd_SMART_PRE_RENDER, 23,
       PF_Cmd_SMART_RENDER, 24, PF_Cmd_GET_FLATTENED_SEQUENCE_DATA, 28,
       PF_Cmd_TRANSLATE_PARAMS_TO_PREFS, 29, PF_Cmd_SMART_RENDER_GPU, 31, PF_Cmd_GPU_DEVICE_SETUP,
       32, PF_Cmd_GPU_DEVICE_SETDOWN, 33, PF_Cmd_NUM_CMDS, 34);
VALUES(PF_Err_NONE, 0, PF_Err_OUT_OF_MEMORY, 4, PF_Err_INTERNAL_STRUCT_DAMAGED, 512,
       PF_Err_INVALID_INDEX, 513, PF_Err_UNRECOGNIZED_PARAM_TYPE, 514, PF_Err_INVALID_CALLBACK, 515,
       PF_Err_BAD_CALLBACK_PARAM, 516, PF_Interrupt_CANCEL, 517);
VALUES(PF_Quality_LO, 0, PF_Quality_HI, 1);
VALUES(PF_OutFlag_NONE, 0, PF_OutFlag_I_EXPAND_BUFFER, 512, PF_OutFlag_FORCE_RERENDER, 4194304,
       PF_OutFlag_DEEP_COLOR_AWARE, 33554432, PF_OutFlag_SEND_UPDATE_PARAMS_UI, 67108864);
VALUES(PF_OutFlag2_NONE, 0, PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG, 8,
       PF_OutFlag2_REVEALS_ZERO_ALPHA, 128, PF_OutFlag2_SUPPORTS_SMART_RENDER, 1024,
       PF_OutFlag2_FLOAT_COLOR_AWARE, 4096, PF_OutFlag2_SUPPORTS_THREADED_RENDERING, 134217728);
VALUES(PF_WorldFlag_DEEP, 1, PF_WorldFlag_WRITEABLE, 2);
VALUES(PF_Param_LAYER, 0, PF_Param_SLIDER, 1, PF_Param_FIX_SLIDER, 2, PF_Param_ANGLE, 3,
       PF_Param_CHECKBOX, 4, PF_Param_COLOR, 5, PF_Param_POINT, 6, PF_Param_POPUP, 7,
       PF_Param_CUSTOM, 8, PF_Param_NO_DATA, 9, PF_Param_FLOAT_SLIDER, 10, PF_Param_ARBITRARY_DATA,
       11, PF_Param_PATH, 12, PF_Param_GROUP_START, 13, PF_Param_GROUP_END, 14);
VALUES(PF_ParamFlag_SUPERVISE, 64, PF_PUI_INVISIBLE, 512, PF_ChangeFlag_NONE, 0,
       PF_ChangeFlag_CHANGED_VALUE, 1, PF_LayerDefault_MYSELF, -1, PF_LayerDefault_NONE, 0,
       PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS, 1);
VALUES(A_Err_NONE, 0, A_Err_GENERIC, 1, A_Err_STRUCT, 2, A_Err_PARAMETER, 3, A_Err_ALLOC, 4,
       A_Err_WRONG_THREAD, 5, A_Err_CONST_PROJECT_MODIFICATION, 6, A_Err_MISSING_SUITE, 13,
       A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING, 22);
VALUES(kSPNoError, 0, kPFANSISuiteVersion1, 1, kAEGPComputeCacheSuiteVersion1, 1,
       kAEGPHashSuiteVersion1, 1);

SIZE_ALIGN(PF_ANSICallbacks, 160, 8);
ANSI_FUNCTIONS(PF_ANSICallbacks);
MEMBER(PF_ANSICallbacks, ansi_procs, 152, 4);

SIZE_ALIGN(PF_ColorCallbacks, 64, 8);
MEMBERS(PF_ColorCallbacks, 8, 0, RGBtoHLS, HLStoRGB, RGBtoYIQ, YIQtoRGB, Luminance, Hue, Lightness,
        Saturation);

SIZE_ALIGN(PF_UtilCallbacks, 552, 8);
MEMBERS(PF_UtilCallbacks, 8, 0, begin_sampling, subpixel_sample, area_sample,
        get_batch_func_is_deprecated, end_sampling, composite_rect, blend, convolve, copy, fill,
        gaussian_kernel, iterate, premultiply, premultiply_color, new_world, dispose_world,
        iterate_origin, iterate_lut, transfer_rect, transform_world, host_new_handle,
        host_lock_handle, host_unlock_handle, host_dispose_handle, get_callback_addr, app);
FIELDS(PF_UtilCallbacks, 208, ansi, 160, colorCB, 64);
MEMBERS(PF_UtilCallbacks, 8, 432, get_platform_data, host_get_handle_size,
        iterate_origin_non_clip_src, iterate_generic, host_resize_handle, subpixel_sample16,
        area_sample16, fill16, premultiply_color16, iterate16, iterate_origin16,
        iterate_origin_non_clip_src16, get_pixel_data8, get_pixel_data16);
MEMBER(PF_UtilCallbacks, reserved, 544, 4);
SCALAR(PF_ModeFlags, 4, true);
SCALAR(PF_XferMode, 4, true);
SCALAR(PF_KernelFlags, 4, false);
SCALAR(PF_NewWorldFlags, 4, true);
SCALAR(PF_CallbackID, 4, true);
SCALAR(PF_PlatDataID, 4, true);

}  // namespace

// The suite names are the strings the host looks suites up by.
TEST(SdkLayout, SuiteNamesAreTheHostsStrings) {
    EXPECT_STREQ(kPFANSISuite, "PF ANSI Suite");
    EXPECT_STREQ(kAEGPComputeCacheSuite, "AEGP Compute Cache");
    EXPECT_STREQ(kAEGPHashSuite, "AEGP Hash Suite");
}
