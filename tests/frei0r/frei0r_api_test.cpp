// The frei0r filter as a host loads it (dlopen and the frei0r C entry points): what it declares,
// how named values and presets read back, and instances rendering on several threads at once as
// each renders alone (frei0r allows concurrent calls for different instances).
#include <dlfcn.h>
#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/png_files.h"

namespace lumet::testing {
namespace {

class Frei0rPlugin {
public:
    Frei0rPlugin() {
        handle_ = dlopen(LUMET_FREI0R_DIR "/lumet.so", RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return;
        find(init, "f0r_init");
        find(info, "f0r_get_plugin_info");
        find(paramInfo, "f0r_get_param_info");
        find(construct, "f0r_construct");
        find(destruct, "f0r_destruct");
        find(set, "f0r_set_param_value");
        find(get, "f0r_get_param_value");
        find(update, "f0r_update");
        if (init) init();
        f0r_plugin_info_t plugin{};
        if (info) info(&plugin);
        for (int i = 0; paramInfo && i < plugin.num_params; ++i) {
            f0r_param_info_t param{};
            paramInfo(&param, i);
            index_[param.name] = i;
        }
    }
    ~Frei0rPlugin() {
        if (handle_) dlclose(handle_);
    }
    bool loaded() const { return handle_ && update; }
    int index(const std::string& name) const {
        const auto found = index_.find(name);
        return found == index_.end() ? -1 : found->second;
    }
    void setString(f0r_instance_t instance, const std::string& name, const char* value) const {
        f0r_param_string text = const_cast<char*>(value);
        set(instance, &text, index(name));
    }
    std::string getString(f0r_instance_t instance, const std::string& name) const {
        f0r_param_string text = nullptr;
        get(instance, &text, index(name));
        return text ? text : "";
    }
    void setDouble(f0r_instance_t instance, const std::string& name, double value) const {
        set(instance, &value, index(name));
    }
    double getDouble(f0r_instance_t instance, const std::string& name) const {
        double value = -1;
        get(instance, &value, index(name));
        return value;
    }

    int (*init)() = nullptr;
    void (*info)(f0r_plugin_info_t*) = nullptr;
    void (*paramInfo)(f0r_param_info_t*, int) = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*set)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*get)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

private:
    template <class Function>
    void find(Function& function, const char* name) {
        function = reinterpret_cast<Function>(dlsym(handle_, name));
    }
    void* handle_ = nullptr;
    std::map<std::string, int> index_;
};

TEST(Frei0rApi, DeclaresAFilterWithTheLabelsAsParameters) {
    Frei0rPlugin plugin;
    ASSERT_TRUE(plugin.loaded()) << dlerror();
    f0r_plugin_info_t info{};
    plugin.info(&info);
    EXPECT_STREQ(info.name, "Lumet");
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    // The preset comes first, so that a host setting values by position sets it first.
    EXPECT_EQ(plugin.index("Preset"), 0);
    const std::vector<std::pair<std::string, int>> kinds = {
        {"Preset", F0R_PARAM_STRING},         {"Edge Profile", F0R_PARAM_STRING},
        {"HDRI Map", F0R_PARAM_STRING},       {"Bevel Depth", F0R_PARAM_DOUBLE},
        {"Light Angle", F0R_PARAM_DOUBLE},    {"Rotation Y", F0R_PARAM_DOUBLE},
        {"Smart Edge", F0R_PARAM_BOOL},       {"Shadow Color", F0R_PARAM_COLOR},
        {"Highlight Color", F0R_PARAM_COLOR}, {"Glow Radius", F0R_PARAM_DOUBLE}};
    for (const auto& [name, type] : kinds) {
        ASSERT_GE(plugin.index(name), 0) << name;
        f0r_param_info_t param{};
        plugin.paramInfo(&param, plugin.index(name));
        EXPECT_EQ(param.type, type) << name;
        EXPECT_TRUE(param.explanation && *param.explanation) << name;
    }
    // The controls the panel hides, and the second layer a filter does not have.
    for (const char* hidden : {"Bevel Style", "Show Env Map", "Custom Map"})
        EXPECT_EQ(plugin.index(hidden), -1) << hidden;
}

// Names in any spelling pick a choice; a preset writes its values when chosen, once.
TEST(Frei0rApi, NamedChoicesAndPresetsReadBack) {
    Frei0rPlugin plugin;
    ASSERT_TRUE(plugin.loaded()) << dlerror();
    f0r_instance_t instance = plugin.construct(64, 48);
    ASSERT_NE(instance, nullptr);
    struct Case {
        const char* parameter;
        const char* value;
        const char* readBack;
    };
    const std::vector<Case> cases = {
        {"Edge Profile", "CHISEL_SOFT", "Chisel Soft"},
        {"Edge Profile", "3", "Chisel Hard"},
        {"Edge Profile", "no such profile", "Chisel Hard"},  // kept
        {"HDRI Map", "rim-light", "Rim Light"},
        {"HDRI Map", "Custom Map", "Rim Light"},  // no map input here: kept
        {"Preset", "rose gold", "Rose Gold"},
    };
    for (const Case& c : cases) {
        plugin.setString(instance, c.parameter, c.value);
        EXPECT_EQ(plugin.getString(instance, c.parameter), c.readBack)
            << c.parameter << "=" << c.value;
    }
    // Diamond: HDRI Map Diamond, Bevel Depth 120, Rotation Y 175, Dispersion 7.
    plugin.setString(instance, "Preset", "diamond");
    EXPECT_EQ(plugin.getString(instance, "HDRI Map"), "Diamond");
    EXPECT_EQ(plugin.getDouble(instance, "Bevel Depth"), 120);
    EXPECT_EQ(plugin.getDouble(instance, "Rotation Y"), 175);
    EXPECT_EQ(plugin.getDouble(instance, "Dispersion"), 7);
    // The same preset again (a host repeating every value each frame) keeps later values.
    plugin.setDouble(instance, "Bevel Depth", 200);
    plugin.setString(instance, "Preset", "Diamond");
    EXPECT_EQ(plugin.getDouble(instance, "Bevel Depth"), 200);
    plugin.setString(instance, "Preset", "Gold");
    EXPECT_EQ(plugin.getDouble(instance, "Bevel Depth"), 150);
    EXPECT_EQ(plugin.getString(instance, "HDRI Map"), "Gallery");
    plugin.destruct(instance);
}

// Frames of several instances on several threads at once equal those of each instance alone.
TEST(Frei0rApi, InstancesOnThreadsRenderAsAlone) {
    Frei0rPlugin plugin;
    ASSERT_TRUE(plugin.loaded()) << dlerror();
    constexpr int kWidth = 64, kHeight = 48;
    const std::vector<std::uint8_t> layer = testLayerPixels(kWidth, kHeight, 10);
    const auto* in = reinterpret_cast<const uint32_t*>(layer.data());
    const std::vector<const char*> presets = {"Gold", "Silver", "Copper", "Black Chrome"};
    auto render = [&](const char* preset, std::vector<uint32_t>& frames) {
        f0r_instance_t instance = plugin.construct(kWidth, kHeight);
        plugin.setString(instance, "Preset", preset);
        frames.assign(3 * kWidth * kHeight, 0);
        for (int frame = 0; frame < 3; ++frame) {
            plugin.setDouble(instance, "Bevel Depth", 100 + 50 * frame);  // an animated slider
            plugin.update(instance, frame / 25.0, in, frames.data() + frame * kWidth * kHeight);
        }
        plugin.destruct(instance);
    };
    std::vector<std::vector<uint32_t>> alone(presets.size()), together(presets.size());
    for (std::size_t i = 0; i < presets.size(); ++i) render(presets[i], alone[i]);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < presets.size(); ++i)
        threads.emplace_back([&, i] { render(presets[i], together[i]); });
    for (std::thread& thread : threads) thread.join();
    for (std::size_t i = 0; i < presets.size(); ++i) {
        EXPECT_TRUE(alone[i] == together[i]) << presets[i];
        EXPECT_FALSE(alone[i] == alone[(i + 1) % presets.size()]) << "presets should differ";
    }
}

}  // namespace
}  // namespace lumet::testing
