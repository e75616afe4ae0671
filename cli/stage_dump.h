// The intermediate planes of a frame for `lumet render --dump-stages`: captured from the
// in-process effect's frame observer while the frame renders, written afterwards as PGM, PFM and
// a settings.json.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "params/render_settings.h"

namespace lumet::cli {

class StageDump {
public:
    StageDump() = default;
    StageDump(const StageDump&) = delete;
    StageDump& operator=(const StageDump&) = delete;
    ~StageDump() { uninstall(); }

    // Captures the next frame(s) rendered in this process until uninstall().
    void install();
    void uninstall();
    bool captured() const { return captured_; }

    // alpha.pgm, alphaSS.pgm, height.pfm, normals.pfm, reflection.pfm, shade.pfm, glow.pfm and
    // glowA.pfm (when the glow ran), envSharp.pfm, envSmooth.pfm and settings.json.
    bool write(const std::string& folder, std::string& error) const;

private:
    friend struct StageDumpAccess;

    bool installed_ = false;
    bool captured_ = false;
    RenderSettings settings_{};
    std::int32_t W_ = 0, H_ = 0, SS_ = 1, W2_ = 0, H2_ = 0, dx_ = 0, dy_ = 0;
    std::int32_t envW_ = 0, envH_ = 0;
    bool hasGlow_ = false;
    std::vector<std::uint8_t> alpha_, alphaSS_;
    std::vector<float> height_, normals_, reflection_, shade_, glow_, glowA_, envSharp_, envSmooth_;
};

}  // namespace lumet::cli
