// The preset table and the parameter-change reaction that applies it.
#include "params/presets.h"

#include "params/param_ids.h"

namespace lumet {

// clang-format off
const std::array<PresetRecord, kPresetCount> kPresetTable = {{
    // style profile depth soft smart edge  map blur scale expo contr displ rotX rotY
    //   metal transp disp  angle height spec rough aniso  shadow  midtone  highlight
    //   sat tint  glowI glowR
    {1, 1, 150, 20, 1, 100,  1, 20, 50, 100, 50, 50, 0,   0,
     100, 0, 0, 135, 60, 100, 25,   0, {92, 60, 15},    {212, 168, 64},  {255, 235, 180},
     100, 100, 0.3f, 65},   // Gold
    {1, 2, 150, 15, 1, 100,  6, 25, 35,  80, 55, 50, 0,  75,
     100, 0, 0, 112, 65, 100, 25,   0, {84, 84, 84},    {149, 149, 149}, {210, 210, 210},
     100, 100, 0, 0},       // Silver
    {1, 1, 150, 20, 1, 100,  4, 18, 20, 110, 50, 50, 0,   0,
     100, 0, 0, 135, 55, 100, 20,   0, {95, 55, 38},    {218, 162, 125}, {255, 220, 192},
     100, 100, 0.2f, 55},   // Rose Gold
    {1, 4, 150, 28, 1, 100,  1, 50, 50, 105, 50, 50, 0,   0,
     100, 0, 0, 140, 60,  95, 28,   0, {68, 42, 12},    {178, 120, 50},  {235, 190, 118},
     100, 100, 0, 0},       // Bronze
    {1, 1, 150, 18, 1, 100,  3, 20, 50,  95, 50, 50, 0,   0,
     100, 0, 0, 135, 55, 100, 18,   0, {88, 42, 18},    {208, 135, 70},  {255, 208, 158},
     100, 100, 0.2f, 55},   // Copper
    {1, 1, 150, 15, 1, 100,  1, 22, 50,  88, 50, 50, 0,   0,
     100, 0, 0, 120, 55, 100, 30,   0, {78, 76, 72},    {175, 172, 168}, {235, 232, 228},
     100, 100, 0, 0},       // Platinum
    {1, 5, 150, 22, 1, 100,  6, 90, 55,  82, 50, 50, 0,  45,
     100, 0, 0, 130, 50,  95, 40, 100, {58, 58, 62},    {140, 142, 150}, {200, 204, 215},
     100, 100, 0, 0},       // Brushed Steel
    {1, 3, 150, 12, 1, 100,  2, 20, 45, 115, 55, 50, 0,   0,
     100, 0, 0, 135, 58, 100,  8,   0, {15, 15, 18},    {40, 42, 52},    {158, 162, 185},
     100, 100, 0, 0},       // Black Chrome
    {1, 2, 120, 20, 1, 100,  9, 25, 40, 100, 45, 60, 0, 175,
     100, 0, 7, 135, 50, 100, 15,   0, {148, 154, 160}, {212, 226, 255}, {239, 253, 255},
     100, 100, 0, 0},       // Diamond
}};
// clang-format on

namespace {

void markChanged(PF_ParamDef* def) { def->uu.change_flags = PF_ChangeFlag_CHANGED_VALUE; }

void writePopup(PF_ParamDef* def, std::int32_t choice) {
    def->u.pd.value = choice;
    markChanged(def);
}

void writeSlider(PF_ParamDef* def, float value) {
    def->u.fs_d.value = static_cast<double>(value);
    markChanged(def);
}

void writeColor(PF_ParamDef* def, const std::int32_t (&channels)[3]) {
    def->u.cd.value = PF_Pixel{255, static_cast<A_u_char>(channels[0] & 0xFF),
                               static_cast<A_u_char>(channels[1] & 0xFF),
                               static_cast<A_u_char>(channels[2] & 0xFF)};
    markChanged(def);
}

}  // namespace

PF_Err applyPresetOnChange(PF_OutData* out_data, PF_ParamDef* params[],
                           const PF_UserChangedParamExtra* extra) {
    if (!extra || extra->param_index != PARAM_PRESET) return PF_Err_NONE;
    const PF_ParamValue choice = params[PARAM_PRESET]->u.pd.value;
    if (choice < 1 || choice > kPresetCount) return PF_Err_NONE;
    const PresetRecord& r = kPresetTable[static_cast<std::size_t>(choice - 1)];

    // Written in the table's field order.
    writePopup(params[PARAM_BEVEL_STYLE], r.bevelStyle);
    writePopup(params[PARAM_EDGE_PROFILE], r.edgeProfile);
    writeSlider(params[PARAM_BEVEL_DEPTH], r.bevelDepth);
    writeSlider(params[PARAM_BEVEL_SOFTNESS], r.bevelSoftness);
    params[PARAM_SMART_EDGE]->u.bd.value = (r.smartEdge & 0xFF) != 0 ? 1 : 0;
    markChanged(params[PARAM_SMART_EDGE]);
    writeSlider(params[PARAM_EDGE_STRENGTH], r.edgeStrength);
    writePopup(params[PARAM_HDRI_MAP], r.hdriMap);
    writeSlider(params[PARAM_BLUR], r.blur);
    writeSlider(params[PARAM_SCALE], r.scale);
    writeSlider(params[PARAM_EXPOSURE], r.exposure);
    writeSlider(params[PARAM_CONTRAST], r.contrast);
    writeSlider(params[PARAM_DISPLACEMENT], r.displacement);
    writeSlider(params[PARAM_ROTATION_X], r.rotationX);
    writeSlider(params[PARAM_ROTATION_Y], r.rotationY);
    writeSlider(params[PARAM_METAL], r.metal);
    writeSlider(params[PARAM_TRANSPARENCY], r.transparency);
    writeSlider(params[PARAM_DISPERSION], r.dispersion);
    params[PARAM_LIGHT_ANGLE]->u.ad.value =
        static_cast<PF_Fixed>(static_cast<double>(r.lightAngleDegrees) * 65536.0);
    markChanged(params[PARAM_LIGHT_ANGLE]);
    writeSlider(params[PARAM_LIGHT_HEIGHT], r.lightHeight);
    writeSlider(params[PARAM_SPECULAR], r.specular);
    writeSlider(params[PARAM_ROUGHNESS], r.roughness);
    writeSlider(params[PARAM_ANISOTROPY], r.anisotropy);
    writeColor(params[PARAM_SHADOW_COLOR], r.shadowColor);
    writeColor(params[PARAM_MIDTONE_COLOR], r.midtoneColor);
    writeColor(params[PARAM_HIGHLIGHT_COLOR], r.highlightColor);
    writeSlider(params[PARAM_SATURATION], r.saturation);
    writeSlider(params[PARAM_TINT_BLEND], r.tintBlend);
    writeSlider(params[PARAM_GLOW_INTENSITY], r.glowIntensity);
    writeSlider(params[PARAM_GLOW_RADIUS], r.glowRadius);

    out_data->out_flags |= PF_OutFlag_FORCE_RERENDER;
    return PF_Err_NONE;
}

}  // namespace lumet
