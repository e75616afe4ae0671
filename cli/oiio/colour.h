// Colour conversion of the Linux build through OpenImageIO's colour configuration: OpenColorIO's
// from $OCIO when it is set, else OpenImageIO's built-in one ("sRGB", "linear", "Rec709", ...).
#pragma once
#include <cstddef>
#include <string>

namespace lumet::cli {

// The configuration's name of the effect's own colour (sRGB-encoded) and of scene-linear colour.
std::string workingColourSpace();
std::string linearColourSpace();

// The configuration's name for `name` (a colour space matched case-insensitively, or a role such
// as scene_linear); false with an error listing the names when there is none.
bool resolveColourSpace(const std::string& name, std::string& resolved, std::string& error);

// Converts the straight colour of `pixels` RGBA pixels (alpha untouched) between two resolved
// colour spaces; nothing to do when they are the same. Values beyond 0..1 are kept: the sRGB
// curve is extended past 1 as its power law.
bool convertColour(float* rgba, std::size_t pixels, const std::string& from, const std::string& to,
                   std::string& error);

}  // namespace lumet::cli
