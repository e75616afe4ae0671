// Registration of a plug-in through its PluginDataEntryFunction2 export.
// A real SDK can replace this folder (-DLUMET_HOST_SDK_DIR).
#pragma once
#include "A.h"

#ifdef __cplusplus
extern "C" {
#endif
typedef struct PF_PluginData* PF_PluginDataPtr;

// The host's callback that receives the plug-in's identity.
typedef A_Err (*PF_PluginDataCB2)(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr,
                                  const A_u_char* inMatchNamePtr, const A_u_char* inCategoryPtr,
                                  const A_u_char* inEntryPointNamePtr, A_long inkind,
                                  A_long inApiVersionMajor, A_long inApiVersionMinor,
                                  A_long inReservedInfo, const A_u_char* inSupportURLPtr);

// The signature of the PluginDataEntryFunction2 export.
typedef A_Err (*PluginDataEntryFunction2Ptr)(PF_PluginDataPtr inPtr,
                                             PF_PluginDataCB2 inPluginDataCallBackPtr,
                                             struct SPBasicSuite* inSPBasicSuitePtr,
                                             const char* inHostName, const char* inHostVersion);
#ifdef __cplusplus
}
#endif
