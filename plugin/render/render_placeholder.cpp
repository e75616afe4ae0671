// Until the render pipelines land: both render commands report an internal error, and there are
// no render caches to release.
#include "render/non_smart_render.h"
#include "render/render_caches.h"
#include "render/smart_render.h"

namespace lumet {

PF_Err SmartRender(PF_InData*, PF_OutData*, PF_SmartRenderExtra*) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
}

PF_Err NonSmartRender(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
}

void ReleaseRenderCaches() {}

}  // namespace lumet
