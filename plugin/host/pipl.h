// The plug-in property list (PiPL) in the byte layout of the Windows resource: a reserved word,
// the list version, the property count, then each property as vendor, key, id, length and data
// padded to four bytes, all little-endian. No host SDK dependency, so the resource generator can
// link it alone.
#pragma once
#include <cstdint>
#include <vector>

namespace lumet {

inline constexpr int kPiplResourceId = 16000;
inline constexpr int kPiplResourceLanguage = 1033;  // US English

std::vector<std::uint8_t> buildPipl();

}  // namespace lumet
