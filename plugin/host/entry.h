// The effect's two entry points as C++ functions inside lumet_core. The shared library exports
// them under the host's undecorated names (exports.cpp); tests and the reference host can also
// call them in-process.
#pragma once
#include "AE_Effect.h"
#include "AE_PluginData.h"

namespace lumet {

PF_Err effectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                  PF_LayerDef* output, void* extra);

PF_Err pluginDataEntry(PF_PluginDataPtr inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                       SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                       const char* inHostVersion);

}  // namespace lumet
