// The host's compute cache: values computed once under a key and shared between renders.
// A real SDK can replace this folder (-DLUMET_HOST_SDK_DIR).
#pragma once
#include "A.h"
#include "SPBasic.h"

typedef const char* AEGP_CCComputeClassIdP;
typedef void* AEGP_CCComputeOptionsRefconP;
typedef void* AEGP_CCComputeValueRefconP;
typedef struct AEGP_GUID {
    A_long bytes[4];
} AEGP_GUID;
typedef AEGP_GUID AEGP_CCComputeKey;
typedef AEGP_CCComputeKey* AEGP_CCComputeKeyP;
typedef void* AEGP_CCCheckoutReceiptP;

// Supplied by the effect for each class it registers.
typedef struct AEGP_ComputeCacheCallbacks {
    A_Err (*generate_key)(AEGP_CCComputeOptionsRefconP optionsP, AEGP_CCComputeKeyP out_keyP);
    A_Err (*compute)(AEGP_CCComputeOptionsRefconP optionsP,
                     AEGP_CCComputeValueRefconP* out_valuePP);
    size_t (*approx_size_value)(AEGP_CCComputeValueRefconP valueP);
    void (*delete_compute_value)(AEGP_CCComputeValueRefconP valueP);
} AEGP_ComputeCacheCallbacks;

#define kAEGPComputeCacheSuite "AEGP Compute Cache"
#define kAEGPComputeCacheSuiteVersion1 1

typedef struct AEGP_ComputeCacheSuite1 {
    A_Err (*AEGP_ClassRegister)(AEGP_CCComputeClassIdP compute_classP,
                                const AEGP_ComputeCacheCallbacks* callbacksP);
    A_Err (*AEGP_ClassUnregister)(AEGP_CCComputeClassIdP compute_classP);
    A_Err (*AEGP_ComputeIfNeededAndCheckout)(AEGP_CCComputeClassIdP compute_classP,
                                             AEGP_CCComputeOptionsRefconP opaque_optionsP,
                                             bool wait_for_other_threadB,
                                             AEGP_CCCheckoutReceiptP* compute_receiptPP);
    A_Err (*AEGP_CheckoutCached)(AEGP_CCComputeClassIdP compute_classP,
                                 AEGP_CCComputeOptionsRefconP opaque_optionsP,
                                 AEGP_CCCheckoutReceiptP* compute_receiptPP);
    A_Err (*AEGP_GetReceiptComputeValue)(const AEGP_CCCheckoutReceiptP compute_receiptP,
                                         AEGP_CCComputeValueRefconP* compute_valuePP);
    A_Err (*AEGP_CheckinComputeReceipt)(AEGP_CCCheckoutReceiptP compute_receiptP);
} AEGP_ComputeCacheSuite1;
