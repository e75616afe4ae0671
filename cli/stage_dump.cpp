// Capturing and writing the stage dump.
#include "stage_dump.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "image_io.h"
#include "render/frame_report.h"

namespace lumet::cli {

struct StageDumpAccess {
    static void capture(StageDump& dump, const FramePlanes& p) {
        dump.captured_ = true;
        dump.settings_ = *p.settings;
        dump.W_ = p.W, dump.H_ = p.H, dump.SS_ = p.SS, dump.W2_ = p.W2, dump.H2_ = p.H2;
        dump.dx_ = p.dx, dump.dy_ = p.dy;
        const std::size_t N = static_cast<std::size_t>(p.W) * p.H;
        const std::size_t N2 = static_cast<std::size_t>(p.W2) * p.H2;
        // The planes hold the frame's window; around it the frame is empty: zeros, flat normals.
        const FrameWindow frame = p.window, area = p.geometryWindow;
        const FrameWindow work = area.scaled(p.SS);
        dump.alpha_.assign(N, 0);
        place(dump.alpha_.data(), p.alpha, frame, 1);
        dump.alphaSS_.assign(N2, 0);
        place(dump.alphaSS_.data(), p.alphaSS, work, 1);
        dump.height_.assign(N2, 0.0f);
        place(dump.height_.data(), p.heightMap, work, 1);
        dump.normals_.resize(3 * N2);
        for (std::size_t i = 0; i < N2; ++i) {
            dump.normals_[3 * i] = 0.0f, dump.normals_[3 * i + 1] = 0.0f;
            dump.normals_[3 * i + 2] = 1.0f;
        }
        place(dump.normals_.data(), p.normalMap, work, 3);
        interleave(dump.reflection_, p.refl, work, p.W2, p.H2);
        interleave(dump.shade_, p.shade, area, p.W, p.H);
        dump.hasGlow_ = p.glow[3] != nullptr;
        if (dump.hasGlow_) {
            interleave(dump.glow_, p.glow, frame, p.W, p.H);
            dump.glowA_.assign(N, 0.0f);
            place(dump.glowA_.data(), p.glow[3], frame, 1);
        }
        dump.envW_ = p.envW, dump.envH_ = p.envH;
        const std::size_t envFloats = 3 * static_cast<std::size_t>(p.envW) * p.envH;
        if (p.envSharpRgb) dump.envSharp_.assign(p.envSharpRgb, p.envSharpRgb + envFloats);
        if (p.envSmoothRgb) dump.envSmooth_.assign(p.envSmoothRgb, p.envSmoothRgb + envFloats);
    }
    // Copies a window's plane of `channels` interleaved values into its place in the frame.
    template <class T>
    static void place(T* frame, const T* plane, const FrameWindow& w, std::size_t channels) {
        if (!plane) return;
        const std::size_t row = static_cast<std::size_t>(w.width) * channels;
        for (std::int32_t y = 0; y < w.height; ++y) {
            std::memcpy(frame + (static_cast<std::size_t>(y + w.y) * w.frameWidth + w.x) * channels,
                        plane + static_cast<std::size_t>(y) * row, row * sizeof(T));
        }
    }
    // Three planes of a window into one interleaved frame-size plane, zero around the window.
    static void interleave(std::vector<float>& out, const float* const planes[3],
                           const FrameWindow& w, std::int32_t width, std::int32_t height) {
        out.assign(static_cast<std::size_t>(width) * height * 3, 0.0f);
        for (std::int32_t y = 0; y < w.height; ++y) {
            for (std::int32_t x = 0; x < w.width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w.width + x;
                const std::size_t o = static_cast<std::size_t>(y + w.y) * width + (x + w.x);
                for (int c = 0; c < 3; ++c) out[3 * o + c] = planes[c] ? planes[c][i] : 0.0f;
            }
        }
    }
};

namespace {
void observeFrame(void* context, const FramePlanes& planes) {
    StageDumpAccess::capture(*static_cast<StageDump*>(context), planes);
}
}  // namespace

void StageDump::install() {
    setFrameObserver(&observeFrame, this);
    installed_ = true;
}

void StageDump::uninstall() {
    if (installed_) setFrameObserver(nullptr, nullptr);
    installed_ = false;
}

bool StageDump::write(const std::string& folder, std::string& error) const {
    if (!captured_) {
        error = "--dump-stages: no frame reached the output stage";
        return false;
    }
    const std::filesystem::path dir(folder);
    auto path = [&dir](const char* name) { return (dir / name).string(); };
    if (!writePgm(path("alpha.pgm"), alpha_.data(), W_, H_, error) ||
        !writePgm(path("alphaSS.pgm"), alphaSS_.data(), W2_, H2_, error) ||
        !writePfm(path("height.pfm"), height_.data(), W2_, H2_, 1, error) ||
        !writePfm(path("normals.pfm"), normals_.data(), W2_, H2_, 3, error) ||
        !writePfm(path("reflection.pfm"), reflection_.data(), W2_, H2_, 3, error) ||
        !writePfm(path("shade.pfm"), shade_.data(), W_, H_, 3, error) ||
        !writePfm(path("envSharp.pfm"), envSharp_.data(), envW_, envH_, 3, error) ||
        !writePfm(path("envSmooth.pfm"), envSmooth_.data(), envW_, envH_, 3, error)) {
        return false;
    }
    if (hasGlow_ && (!writePfm(path("glow.pfm"), glow_.data(), W_, H_, 3, error) ||
                     !writePfm(path("glowA.pfm"), glowA_.data(), W_, H_, 1, error))) {
        return false;
    }
    std::FILE* json = std::fopen(path("settings.json").c_str(), "w");
    if (!json) {
        error = path("settings.json") + ": cannot write";
        return false;
    }
    const RenderSettings& s = settings_;
    auto color = [](const float c[3]) {
        char text[96];
        std::snprintf(text, sizeof text, "[%.9g, %.9g, %.9g]", c[0], c[1], c[2]);
        return std::string(text);
    };
    std::fprintf(json, "{\n");
    std::fprintf(json, "  \"bevelStyle\": %d,\n  \"edgeProfile\": %d,\n", s.bevelStyle,
                 s.edgeProfile);
    std::fprintf(json, "  \"bevelDepth\": %.9g,\n  \"bevelSoftness\": %.9g,\n", s.bevelDepth,
                 s.bevelSoftness);
    std::fprintf(json, "  \"smartEdge\": %s,\n  \"hdriMap\": %d,\n", s.smartEdge ? "true" : "false",
                 s.hdriMap);
    const struct {
        const char* name;
        float value;
    } floats[] = {{"envBlur", s.envBlur},
                  {"envScale", s.envScale},
                  {"envExposure", s.envExposure},
                  {"envContrast", s.envContrast},
                  {"envDisplacement", s.envDisplacement},
                  {"envRotX", s.envRotX},
                  {"envRotY", s.envRotY},
                  {"metal", s.metal},
                  {"opacity", s.opacity},
                  {"dispersion", s.dispersion},
                  {"lightAngle", s.lightAngle},
                  {"lightHeight", s.lightHeight},
                  {"specular", s.specular},
                  {"roughness", s.roughness},
                  {"anisotropy", s.anisotropy},
                  {"edgeStrength", s.edgeStrength},
                  {"glowIntensity", s.glowIntensity},
                  {"glowRadius", s.glowRadius}};
    for (const auto& f : floats) std::fprintf(json, "  \"%s\": %.9g,\n", f.name, f.value);
    std::fprintf(json, "  \"shadowColor\": %s,\n  \"midColor\": %s,\n  \"highColor\": %s,\n",
                 color(s.shadowColor).c_str(), color(s.midColor).c_str(),
                 color(s.highColor).c_str());
    std::fprintf(json, "  \"saturation\": %.9g,\n  \"tintBlend\": %.9g,\n", s.saturation,
                 s.tintBlend);
    std::fprintf(json, "  \"expansion\": %d,\n  \"showEnvMap\": %s,\n", s.expansion,
                 s.showEnvMap ? "true" : "false");
    std::fprintf(json, "  \"inputRect\": [%d, %d, %d, %d],\n", s.inputRect[0], s.inputRect[1],
                 s.inputRect[2], s.inputRect[3]);
    std::fprintf(json, "  \"outputRect\": [%d, %d, %d, %d],\n", s.outputRect[0], s.outputRect[1],
                 s.outputRect[2], s.outputRect[3]);
    std::fprintf(json,
                 "  \"W\": %d,\n  \"H\": %d,\n  \"SS\": %d,\n  \"W2\": %d,\n  \"H2\": %d,\n"
                 "  \"inputOffset\": [%d, %d]\n}\n",
                 W_, H_, SS_, W2_, H2_, dx_, dy_);
    const bool ok = std::fclose(json) == 0;
    if (!ok) error = path("settings.json") + ": write failed";
    return ok;
}

}  // namespace lumet::cli
