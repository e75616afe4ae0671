// Placeholder until the command table lands: every command answers 0.
#include "host/entry.h"

namespace lumet {

PF_Err effectMain(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
    return PF_Err_NONE;
}

PF_Err pluginDataEntry(PF_PluginDataPtr, PF_PluginDataCB2, SPBasicSuite*, const char*,
                       const char*) {
    return PF_Err_NONE;
}

}  // namespace lumet
