// The parameter list as the host receives it from the built plug-in: labels, types, ranges,
// defaults and flags are held by the committed `lumet params` listing (end-to-end/cli_test); here
// the fields of the records that listing does not show, and a refused parameter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/loaded_plugin.h"

namespace {

TEST(ParamList, RecordsCarryTheirIdsAndNoDisplayOptions) {
    auto host = lumet::test::loadedPlugin();
    const refhost::ParamsStore& store = host->params();
    ASSERT_EQ(store.count(), 45);
    EXPECT_EQ(host->outDataOf(PF_Cmd_PARAMS_SETUP).num_params, 45);
    for (int i = 1; i < 45; ++i) {
        SCOPED_TRACE("parameter " + std::to_string(i));
        const PF_ParamDef& def = store.definition(i);
        EXPECT_EQ(def.uu.id, i) << "saved projects find parameters by id";
        // The listing names these two flags only; no other may be set.
        EXPECT_EQ(def.flags & ~PF_ParamFlag_SUPERVISE, 0);
        EXPECT_EQ(def.ui_flags & ~PF_PUI_INVISIBLE, 0);
        if (def.param_type == PF_Param_FLOAT_SLIDER) {
            EXPECT_EQ(def.u.fs_d.display_flags, 0);
            EXPECT_EQ(def.u.fs_d.fs_flags, 0);
            EXPECT_EQ(def.u.fs_d.curve_tolerance, 0.0f);
        } else if (def.param_type == PF_Param_COLOR) {
            EXPECT_EQ(def.u.cd.dephault.alpha, 255);
        } else if (def.param_type == PF_Param_LAYER) {
            EXPECT_EQ(def.u.ld.dephault, PF_LayerDefault_NONE);
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
