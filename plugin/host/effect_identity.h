// The effect's identity in the compositing host's records: registration, the property list,
// global set-up and the about box. Plain values only, so that build-time tools can use them
// without the host SDK.
#pragma once
#include <cstdint>

#include "core/effect_identity.h"

namespace lumet {

inline constexpr char kEffectMatchName[] = "Veltra Lumet";
inline constexpr char kEntryPointName[] = "EffectMain";

// Four-character codes as the host compares them: first character in the high byte.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

inline constexpr std::uint32_t kEffectPluginKind = fourCharCode("eFKT");
inline constexpr std::int32_t kEffectApiVersionMajor = 13;
inline constexpr std::int32_t kEffectApiVersionMinor = 29;
// Reserved information value passed at registration.
inline constexpr std::int32_t kRegistrationReservedInfo = 8;

inline constexpr std::uint32_t kEffectStage = 3;  // release
inline constexpr std::uint32_t kEffectBuild = 1;
// The host's packed version word: major << 19, minor << 15, bug << 11, stage << 9, build.
inline constexpr std::uint32_t kEffectVersionWord =
    (kEffectMajorVersion << 19) | (kEffectMinorVersion << 15) | (kEffectBugVersion << 11) |
    (kEffectStage << 9) | kEffectBuild;

// Output flags: expands the buffer, deep colour aware, wants the parameter-UI update command.
inline constexpr std::uint32_t kEffectOutFlags = 0x06000200;
// Second flags: group collapse by flag, reveals zero alpha, smart render, float colour aware,
// and rendering on several host threads at once (several frames of a composition together).
inline constexpr std::uint32_t kEffectOutFlags2 = 0x08001488;

}  // namespace lumet
