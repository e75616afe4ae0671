// The host's hash suite: 128-bit hashes of byte buffers, as compute-cache keys.
// A real SDK can replace this folder (-DLUMET_HOST_SDK_DIR).
#pragma once
#include "AE_ComputeCacheSuite.h"

#define kAEGPHashSuite "AEGP Hash Suite"
#define kAEGPHashSuiteVersion1 1

typedef struct {
    A_Err (*AEGP_CreateHashFromPtr)(const A_u_longlong buf_sizeLu, const void* bufPV,
                                    AEGP_GUID* hashP);
    A_Err (*AEGP_HashMixInPtr)(const A_u_longlong buf_sizeLu, const void* bufPV,
                               AEGP_GUID* hashP);
} AEGP_HashSuite1;
