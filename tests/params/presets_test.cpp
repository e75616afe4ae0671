// Choosing a preset through the built plug-in: every row of the table reaches the host's values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/loaded_plugin.h"

namespace {

// The preset table as written for the user, one row per parameter, one column per preset
// (Gold, Silver, Rose Gold, Bronze, Copper, Platinum, Brushed Steel, Black Chrome, Diamond).
// Colours are given per channel: index 38, 39, 40 with channel 0..2.
struct Row {
    int index;
    int channel;  // -1: the value itself; 0..2: red, green, blue
    double values[9];
};

const std::vector<Row> kRows = {
    {3, -1, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {4, -1, {1, 2, 1, 4, 1, 1, 5, 3, 2}},
    {5, -1, {150, 150, 150, 150, 150, 150, 150, 150, 120}},
    {6, -1, {20, 15, 20, 28, 18, 15, 22, 12, 20}},
    {7, -1, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {8, -1, {100, 100, 100, 100, 100, 100, 100, 100, 100}},
    {11, -1, {1, 6, 4, 1, 3, 1, 6, 2, 9}},
    {13, -1, {20, 25, 18, 50, 20, 22, 90, 20, 25}},
    {14, -1, {50, 35, 20, 50, 50, 50, 55, 45, 40}},
    {15, -1, {100, 80, 110, 105, 95, 88, 82, 115, 100}},
    {16, -1, {50, 55, 50, 50, 50, 50, 50, 55, 45}},
    {17, -1, {50, 50, 50, 50, 50, 50, 50, 50, 60}},
    {19, -1, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {20, -1, {0, 75, 0, 0, 0, 0, 45, 0, 175}},
    {22, -1, {100, 100, 100, 100, 100, 100, 100, 100, 100}},
    {23, -1, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {24, -1, {0, 0, 0, 0, 0, 0, 0, 0, 7}},
    {27, -1, {135, 112, 135, 140, 135, 120, 130, 135, 135}},
    {28, -1, {60, 65, 55, 60, 55, 55, 50, 58, 50}},
    {29, -1, {100, 100, 100, 95, 100, 100, 95, 100, 100}},
    {30, -1, {25, 25, 20, 28, 18, 30, 40, 8, 15}},
    {31, -1, {0, 0, 0, 0, 0, 0, 100, 0, 0}},
    {38, 0, {92, 84, 95, 68, 88, 78, 58, 15, 148}},
    {38, 1, {60, 84, 55, 42, 42, 76, 58, 15, 154}},
    {38, 2, {15, 84, 38, 12, 18, 72, 62, 18, 160}},
    {39, 0, {212, 149, 218, 178, 208, 175, 140, 40, 212}},
    {39, 1, {168, 149, 162, 120, 135, 172, 142, 42, 226}},
    {39, 2, {64, 149, 125, 50, 70, 168, 150, 52, 255}},
    {40, 0, {255, 210, 255, 235, 255, 235, 200, 158, 239}},
    {40, 1, {235, 210, 220, 190, 208, 232, 204, 162, 253}},
    {40, 2, {180, 210, 192, 118, 158, 228, 215, 185, 255}},
    {41, -1, {100, 100, 100, 100, 100, 100, 100, 100, 100}},
    {42, -1, {100, 100, 100, 100, 100, 100, 100, 100, 100}},
    {34, -1, {0.3, 0, 0.2, 0, 0.2, 0, 0, 0, 0}},
    {35, -1, {65, 0, 55, 0, 55, 0, 0, 0, 0}},
};

double valueOf(const refhost::ParamsStore& store, int index, int channel) {
    if (channel < 0) return store.numberAt(index, 0);
    const PF_Pixel c = store.colorAt(index, 0);
    return channel == 0 ? c.red : channel == 1 ? c.green : c.blue;
}

// All values of a fresh-or-changed instance, to compare whole states.
std::vector<std::string> snapshot(const refhost::ParamsStore& store) {
    std::vector<std::string> values;
    for (int i = 1; i < store.count(); ++i) {
        const PF_ParamDef def = store.valueAt(i, 0);
        values.emplace_back(reinterpret_cast<const char*>(&def.u), sizeof(def.u));
    }
    return values;
}

TEST(Presets, EveryRowReachesTheHost) {
    auto host = lumet::test::loadedPlugin();
    refhost::ParamsStore& store = host->params();
    for (int preset = 1; preset <= 9; ++preset) {
        SCOPED_TRACE("preset " + std::to_string(preset));
        store.resetToDefaults();
        store.setValue(3, 4);  // Emboss: every preset returns to Inner Bevel
        store.setValue(1, preset);
        ASSERT_EQ(host->changeParam(1), PF_Err_NONE);
        EXPECT_TRUE(host->outDataOf(PF_Cmd_USER_CHANGED_PARAM).out_flags &
                    PF_OutFlag_FORCE_RERENDER);
        EXPECT_EQ(host->changedByLastCommand().size(), 29u) << "no parameter beyond the rows";
        for (const Row& row : kRows) {
            const double expected =
                row.index == 34 ? double(float(row.values[preset - 1])) : row.values[preset - 1];
            EXPECT_EQ(valueOf(store, row.index, row.channel), expected)
                << "parameter " << row.index << " channel " << row.channel;
        }
        EXPECT_EQ(store.colorAt(38, 0).alpha, 255);
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
