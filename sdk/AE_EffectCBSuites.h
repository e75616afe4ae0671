// Callback suites of the effect API that this project uses. A real SDK can replace this folder
// (-DLUMET_HOST_SDK_DIR).
#pragma once
#include "AE_EffectCB.h"

#define kPFANSISuite "PF ANSI Suite"
#define kPFANSISuiteVersion1 1

typedef struct PF_ANSICallbacksSuite1 {
    A_FpLong (*atan)(A_FpLong);
    A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
    A_FpLong (*ceil)(A_FpLong);
    A_FpLong (*cos)(A_FpLong);
    A_FpLong (*exp)(A_FpLong);
    A_FpLong (*fabs)(A_FpLong);
    A_FpLong (*floor)(A_FpLong);
    A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
    A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
    A_FpLong (*log)(A_FpLong);
    A_FpLong (*log10)(A_FpLong);
    A_FpLong (*pow)(A_FpLong x, A_FpLong y);
    A_FpLong (*sin)(A_FpLong);
    A_FpLong (*sqrt)(A_FpLong);
    A_FpLong (*tan)(A_FpLong);
    int (*sprintf)(A_char*, const A_char*, ...);
    A_char* (*strcpy)(A_char*, const A_char*);
    A_FpLong (*asin)(A_FpLong);
    A_FpLong (*acos)(A_FpLong);
} PF_ANSICallbacksSuite1;

// Pixel formats of effect worlds: four characters, the first in the lowest byte.
#define PF_PIXEL_FORMAT_CODE(a, b, c, d)                                             \
    ((A_u_long)(A_u_char)(a) | ((A_u_long)(A_u_char)(b) << 8) |                    \
     ((A_u_long)(A_u_char)(c) << 16) | ((A_u_long)(A_u_char)(d) << 24))

enum {
    PF_PixelFormat_ARGB32 = PF_PIXEL_FORMAT_CODE('a', 'r', 'g', 'b'),   // 8 bits, white 255
    PF_PixelFormat_ARGB64 = PF_PIXEL_FORMAT_CODE('a', 'e', '1', '6'),   // 16 bits, white 32768
    PF_PixelFormat_ARGB128 = PF_PIXEL_FORMAT_CODE('a', 'e', '3', '2'),  // float, white 1.0
    PF_PixelFormat_INVALID = PF_PIXEL_FORMAT_CODE('b', 'a', 'd', 'f'),
    PF_PixelFormat_FORCE_LONG_INT = 0xFFFFFFFF
};
typedef A_long PF_PixelFormat;

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2

typedef struct PF_WorldSuite2 {
    PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long widthL, A_long heightL,
                          PF_Boolean clear_pixB, PF_PixelFormat pixel_format,
                          PF_EffectWorld* worldP);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* worldP, PF_PixelFormat* pixel_formatP);
} PF_WorldSuite2;
