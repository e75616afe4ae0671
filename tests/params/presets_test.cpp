// Choosing a preset through the built plug-in: what the choice does besides setting the values,
// what does not choose one, and animated parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/loaded_plugin.h"

namespace {

// All values of a fresh-or-changed instance, to compare whole states.
std::vector<std::string> snapshot(const refhost::ParamsStore& store) {
    std::vector<std::string> values;
    for (int i = 1; i < store.count(); ++i) {
        const PF_ParamDef def = store.valueAt(i, 0);
        values.emplace_back(reinterpret_cast<const char*>(&def.u), sizeof(def.u));
    }
    return values;
}

// The values each preset sets are held by the committed `lumet presets` listing
// (end-to-end/cli_test), which chooses them by this route; here what the listing does not show.
TEST(Presets, ChoosingOneForcesARerenderAndReturnsToInnerBevel) {
    auto host = lumet::test::loadedPlugin();
    refhost::ParamsStore& store = host->params();
    for (int preset = 1; preset <= 9; ++preset) {
        SCOPED_TRACE("preset " + std::to_string(preset));
        store.resetToDefaults();
        store.setValue(3, 4);  // Emboss
        store.setValue(1, preset);
        ASSERT_EQ(host->changeParam(1), PF_Err_NONE);
        EXPECT_TRUE(host->outDataOf(PF_Cmd_USER_CHANGED_PARAM).out_flags &
                    PF_OutFlag_FORCE_RERENDER);
        EXPECT_EQ(store.numberAt(3, 0), 1);
        EXPECT_EQ(store.colorAt(38, 0).alpha, 255);
        // The listing prints sliders at their precision: it must show every value exactly.
        for (int index : host->changedByLastCommand()) {
            const PF_ParamDef& def = store.definition(index);
            if (def.param_type != PF_Param_FLOAT_SLIDER) continue;
            const double v = store.numberAt(index, 0), scale = std::pow(10.0, def.u.fs_d.precision);
            EXPECT_EQ(float(v), float(std::round(v * scale) / scale)) << "parameter " << index;
        }
        EXPECT_EQ(store.numberAt(1, 0), preset) << "the preset itself is not rewritten";
    }
}

TEST(Presets, OtherChangesAndOutOfRangeChoicesAreIgnored) {
    auto host = lumet::test::loadedPlugin();
    refhost::ParamsStore& store = host->params();
    const std::vector<std::string> before = snapshot(store);
    for (int index : {3, 5, 11, 34, 44}) {
        ASSERT_EQ(host->changeParam(index), PF_Err_NONE);
        EXPECT_TRUE(host->changedByLastCommand().empty()) << index;
        EXPECT_EQ(host->outDataOf(PF_Cmd_USER_CHANGED_PARAM).out_flags, 0) << index;
    }
    store.setValue(11, 10);  // Custom Map changes nothing else either
    ASSERT_EQ(host->changeParam(11), PF_Err_NONE);
    EXPECT_TRUE(host->changedByLastCommand().empty());
    store.setValue(11, 1);
    for (int choice : {0, 10, -3}) {
        store.setValue(1, choice);
        ASSERT_EQ(host->changeParam(1), PF_Err_NONE);
        EXPECT_TRUE(host->changedByLastCommand().empty()) << choice;
        EXPECT_EQ(host->outDataOf(PF_Cmd_USER_CHANGED_PARAM).out_flags, 0) << choice;
    }
    store.setValue(1, 1);
    EXPECT_EQ(snapshot(store), before);
}

TEST(Presets, AnimatedParametersGetAKeyframeAtTheCurrentTime) {
    auto host = lumet::test::loadedPlugin();
    refhost::ParamsStore& store = host->params();
    store.setKeyframe(28, 0.0, 20);
    store.setKeyframe(28, 2.0, 40);
    host->setTime(24, 1, 24);  // one second
    store.setValue(1, 2);      // Silver: Light Height 65
    ASSERT_EQ(host->changeParam(1), PF_Err_NONE);
    EXPECT_EQ(store.numberAt(28, 1.0), 65);
    EXPECT_EQ(store.numberAt(28, 0.5), 20 + (65 - 20) * 0.5);
    EXPECT_EQ(store.numberAt(28, 2.0), 40);
}

}  // namespace
