// The nine built-in studio panoramas, each drawn procedurally and deterministically. The eight
// raw maps are 1024 x 512; Diamond is drawn at 2048 x 1024.
#pragma once
#include "canvas.h"

namespace mapgen {

constexpr int kRawWidth = 1024;
constexpr int kRawHeight = 512;
constexpr int kDiamondWidth = 2048;
constexpr int kDiamondHeight = 1024;

Canvas drawGallery();
Canvas drawStudio();
Canvas drawShowroom();
Canvas drawBeauty();
Canvas drawRimLight();
Canvas drawStrips();
Canvas drawPanels();
Canvas drawDramatic();
Canvas drawDiamond();

}  // namespace mapgen
