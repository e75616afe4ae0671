// The only symbols the plug-in library exports, under the undecorated names the host looks up.
#include "host/entry.h"

#ifdef _WIN32
#define LUMET_EXPORT __declspec(dllexport)
#else
#define LUMET_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LUMET_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                          PF_ParamDef* params[], PF_LayerDef* output,
                                          void* extra) {
    return lumet::effectMain(cmd, in_data, out_data, params, output, extra);
}

extern "C" LUMET_EXPORT PF_Err PluginDataEntryFunction2(PF_PluginDataPtr inPtr,
                                                        PF_PluginDataCB2 inPluginDataCallBackPtr,
                                                        SPBasicSuite* inSPBasicSuitePtr,
                                                        const char* inHostName,
                                                        const char* inHostVersion) {
    return lumet::pluginDataEntry(inPtr, inPluginDataCallBackPtr, inSPBasicSuitePtr, inHostName,
                                  inHostVersion);
}
