// The effect's identity as every host states it: its name, category, maker's address,
// description and version. Plain values only, so that build-time tools and every front end can
// use them without any host's SDK.
#pragma once
#include <cstdint>

namespace lumet {

inline constexpr char kEffectName[] = "Lumet";
inline constexpr char kEffectCategory[] = "Veltra";
inline constexpr char kSupportAddress[] = "https://veltra.example/lumet";
// About-box description; the carriage return is the host's line break.
inline constexpr char kEffectDescription[] =
    "Professional PBR Metal & Glass Text Effects\rVeltra Premium Effects";

inline constexpr std::uint32_t kEffectMajorVersion = 1;
inline constexpr std::uint32_t kEffectMinorVersion = 0;
inline constexpr std::uint32_t kEffectBugVersion = 0;

}  // namespace lumet
