// Base scalar types and error codes of the host SDK. A real SDK can replace this folder:
// configure with -DLUMET_HOST_SDK_DIR pointing at its headers.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef uint8_t A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef uint64_t A_u_longlong;
typedef A_long A_Err;

enum {
    A_Err_NONE = 0,
    A_Err_GENERIC = 1,
    A_Err_STRUCT = 2,
    A_Err_PARAMETER = 3,
    A_Err_ALLOC = 4,
    A_Err_WRONG_THREAD = 5,
    A_Err_CONST_PROJECT_MODIFICATION = 6,
    A_Err_MISSING_SUITE = 13,
    // A compute-cache checkout that found no value, or one still being computed elsewhere.
    A_Err_NOT_IN_CACHE_OR_COMPUTE_PENDING = 22
};
