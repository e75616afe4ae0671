// The parameter list as the host receives it from the built plug-in, against the table written
// out independently here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/loaded_plugin.h"

namespace {

struct Expected {
    PF_ParamType type;
    const char* label;
    double a = 0, b = 0, c = 0,
           d = 0;  // slider: valid min/max, slider min/max; popup: count, default
    double dephault = 0;
    int precision = 0;
    const char* text = nullptr;  // popup choices or checkbox text
};

const char* kPresets =
    "Gold|Silver|Rose Gold|Bronze|Copper|Platinum|Brushed Steel|Black Chrome|Diamond";

std::vector<Expected> expectedList() {
    auto slider = [](const char* l, double lo, double hi, double dflt, int prec) {
        return Expected{PF_Param_FLOAT_SLIDER, l, lo, hi, lo, hi, dflt, prec};
    };
    auto popup = [](const char* l, int n, const char* choices) {
        return Expected{PF_Param_POPUP, l, double(n), 1, 0, 0, 1, 0, choices};
    };
    auto start = [](const char* l) { return Expected{PF_Param_GROUP_START, l}; };
    const Expected end{PF_Param_GROUP_END, ""};
    return {
        Expected{PF_Param_LAYER, ""},
        popup("Preset", 9, kPresets),
        start("Bevel"),
        popup("Bevel Style", 5, "Inner Bevel|Outer Bevel|Full Bevel|Emboss|Pillow"),
        popup("Edge Profile", 5, "Smooth|Round|Chisel Hard|Chisel Soft|Mesa"),
        slider("Bevel Depth", 0, 300, 150, 2),
        slider("Bevel Softness", 0, 100, 20, 2),
        Expected{PF_Param_CHECKBOX, "Smart Edge", 0, 0, 0, 0, 1, 0, ""},
        slider("Edge Strength", 0, 100, 100, 2),
        end,
        start("HDRI"),
        popup("HDRI Map", 10,
              "Gallery|Studio|Showroom|Beauty|Rim Light|Strips|Panels|Dramatic|Diamond|Custom Map"),
        Expected{PF_Param_LAYER, "Custom Map"},
        slider("Blur", 0, 100, 20, 0),
        slider("Scale", 1, 200, 50, 2),
        slider("Exposure", 0, 200, 100, 2),
        slider("Contrast", 0, 100, 50, 2),
        slider("Displacement", 0, 100, 50, 2),
        start("Rotation"),
        Expected{PF_Param_FLOAT_SLIDER, "Rotation X", -10000, 10000, -100, 100, 0, 2},
        Expected{PF_Param_FLOAT_SLIDER, "Rotation Y", -10000, 10000, -100, 100, 0, 2},
        end,
        slider("Metal", 0, 100, 100, 2),
        slider("Transparency", 0, 100, 0, 2),
        slider("Dispersion", 0, 100, 0, 2),
        end,
        start("Lighting"),
        Expected{PF_Param_ANGLE, "Light Angle", 0, 0, 0, 0, 135},
        slider("Light Height", 10, 80, 55, 2),
        slider("Specular", 0, 100, 100, 2),
        slider("Roughness", 0, 100, 20, 2),
        slider("Anisotropy", 0, 100, 0, 2),
        end,
        start("Glow"),
        slider("Glow Intensity", 0, 10, 0.30000001192092896, 1),
        slider("Glow Radius", 0, 500, 65, 0),
        end,
        start("Color"),
        Expected{PF_Param_COLOR, "Shadow Color", 92, 60, 15},
        Expected{PF_Param_COLOR, "Midtone Color", 212, 168, 64},
        Expected{PF_Param_COLOR, "Highlight Color", 255, 235, 180},
        slider("Saturation", 0, 100, 100, 2),
        slider("Tint Blend", 0, 100, 100, 2),
        end,
        Expected{PF_Param_CHECKBOX, "Show Env Map", 0, 0, 0, 0, 0, 0, "Visualize environment map"},
    };
}

TEST(ParamList, HostSeesTheFortyFiveParametersAsTabled) {
    auto host = lumet::test::loadedPlugin();
    const refhost::ParamsStore& store = host->params();
    const std::vector<Expected> expected = expectedList();
    ASSERT_EQ(store.count(), 45);
    ASSERT_EQ(int(expected.size()), 45);
    EXPECT_EQ(host->outDataOf(PF_Cmd_PARAMS_SETUP).num_params, 45);
    for (int i = 1; i < 45; ++i) {
        SCOPED_TRACE("parameter " + std::to_string(i));
        const PF_ParamDef& def = store.definition(i);
        const Expected& e = expected[std::size_t(i)];
        EXPECT_EQ(def.uu.id, i);
        ASSERT_EQ(def.param_type, e.type);
        EXPECT_STREQ(def.name, e.label);
        EXPECT_EQ(def.flags, i == 1 ? PF_ParamFlag_SUPERVISE : 0);
        EXPECT_EQ(def.ui_flags, (i == 3 || i == 44) ? PF_PUI_INVISIBLE : 0);
        switch (e.type) {
            case PF_Param_FLOAT_SLIDER:
                EXPECT_EQ(def.u.fs_d.valid_min, float(e.a));
                EXPECT_EQ(def.u.fs_d.valid_max, float(e.b));
                EXPECT_EQ(def.u.fs_d.slider_min, float(e.c));
                EXPECT_EQ(def.u.fs_d.slider_max, float(e.d));
                EXPECT_EQ(def.u.fs_d.value, e.dephault);  // exact: the float default widened
                EXPECT_EQ(def.u.fs_d.dephault, float(e.dephault));
                EXPECT_EQ(def.u.fs_d.precision, e.precision);
                EXPECT_EQ(def.u.fs_d.display_flags, 0);
                EXPECT_EQ(def.u.fs_d.fs_flags, 0);
                EXPECT_EQ(def.u.fs_d.curve_tolerance, 0.0f);
                break;
            case PF_Param_POPUP:
                EXPECT_EQ(def.u.pd.num_choices, int(e.a));
                EXPECT_EQ(def.u.pd.dephault, 1);
                EXPECT_EQ(def.u.pd.value, 1);
                EXPECT_EQ(store.choices(i), e.text);
                break;
            case PF_Param_CHECKBOX:
                EXPECT_EQ(def.u.bd.value, int(e.dephault));
                EXPECT_EQ(def.u.bd.dephault, int(e.dephault));
                EXPECT_EQ(store.checkboxText(i), e.text);
                break;
            case PF_Param_ANGLE:
                EXPECT_EQ(def.u.ad.value, 135 * 65536);
                EXPECT_EQ(def.u.ad.dephault, 135 * 65536);
                break;
            case PF_Param_COLOR:
                EXPECT_EQ(def.u.cd.value.alpha, 255);
                EXPECT_EQ(def.u.cd.value.red, int(e.a));
                EXPECT_EQ(def.u.cd.value.green, int(e.b));
                EXPECT_EQ(def.u.cd.value.blue, int(e.c));
                EXPECT_EQ(std::memcmp(&def.u.cd.value, &def.u.cd.dephault, sizeof(PF_Pixel)), 0);
                break;
            case PF_Param_LAYER:
                EXPECT_EQ(def.u.ld.dephault, PF_LayerDefault_NONE);
                break;
            default:
                break;
        }
    }
}

TEST(ParamList, FailingAddParamEndsSetupWithItsCode) {
    refhost::Host host(LUMET_PLUGIN_PATH);
    ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
    host.failAddParam(5, 1234);
    PF_OutData out;
    std::memset(&out, 0, sizeof(out));
    // Parameter set-up through the raw command, to see the parameter count left unset.
    EXPECT_EQ(host.sendCommand(PF_Cmd_PARAMS_SETUP, nullptr, nullptr, nullptr, &out), 1234);
    EXPECT_EQ(host.params().count(), 6);  // the input layer and the five accepted
    EXPECT_EQ(out.num_params, 0);
}

}  // namespace
