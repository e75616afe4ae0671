// libFuzzer target: parameter values as a host may hand them over (any double, integer, fixed-point
// angle, colour or flag) through the settings record. Every field must come out within its
// parameter's valid range, scaled as the table says, and the output margin one of its four values:
// the stages derive radii, reaches and table indices from them.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "params/param_table.h"
#include "host/host_params.h"
#include "host/frame_setup.h"
#include "params/output_margin.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

double anyDouble(FuzzedDataProvider& in) {
    const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void fillValue(FuzzedDataProvider& in, const lumet::ParamSpec& spec, PF_ParamDef& def) {
    using lumet::ParamKind;
    switch (spec.kind) {
        case ParamKind::Popup:
            def.u.pd.value = in.ConsumeIntegral<A_long>();
            break;
        case ParamKind::FloatSlider:
            def.u.fs_d.value = in.ConsumeBool() ? anyDouble(in)
                                                : in.ConsumeFloatingPointInRange<double>(
                                                      spec.validMin, spec.validMax);
            break;
        case ParamKind::Checkbox:
            def.u.bd.value = in.ConsumeIntegral<A_long>();
            break;
        case ParamKind::Angle:
            def.u.ad.value = in.ConsumeIntegral<PF_Fixed>();
            break;
        case ParamKind::Color:
            def.u.cd.value.red = in.ConsumeIntegral<A_u_char>();
            def.u.cd.value.green = in.ConsumeIntegral<A_u_char>();
            def.u.cd.value.blue = in.ConsumeIntegral<A_u_char>();
            break;
        default:
            break;
    }
}

void checkField(const lumet::ParamSpec& spec, const lumet::RenderSettings& settings) {
    if (spec.choiceField) {
        const std::int32_t choice = settings.*spec.choiceField;
        check(choice >= 1 && choice <= spec.choiceCount);
    }
    if (spec.numberField) {
        const float value = settings.*spec.numberField;
        check(std::isfinite(value));
        if (spec.kind == lumet::ParamKind::FloatSlider) {
            const double low = spec.validMin / spec.divisor, high = spec.validMax / spec.divisor;
            const double least = spec.complement ? 1.0 - high : low;
            const double most = spec.complement ? 1.0 - low : high;
            const double slack = 1e-6 * (1.0 + std::fabs(least) + std::fabs(most));
            check(value >= least - slack && value <= most + slack);
        }
    }
    if (spec.colorField)
        for (float channel : settings.*spec.colorField) check(channel >= 0.0f && channel <= 255.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    lumet::RenderSettings settings{};
    for (const lumet::ParamSpec& spec : lumet::kParamTable) {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        lumet::fillParamDef(spec, def);
        fillValue(in, spec, def);
        lumet::storeRenderSetting(settings, spec.id, def);
        checkField(spec, settings);
    }
    const std::int32_t margin = lumet::outputMargin(settings.bevelStyle, settings.bevelDepth,
                                                    settings.glowIntensity, settings.glowRadius);
    check(margin == 0 || margin == 500 || margin == 1000 || margin == 1500);
    return 0;
}
