// The world suite as the host offers it: effect worlds made and disposed of through it, and the
// pixel format of any world the host made (the host knows each world's format; the effect cannot
// always tell it from the layout).
#pragma once

namespace refhost {

// Every world's pixels the host hands out are recorded with their depth while they live.
void recordWorldPixels(const void* pixels, int bitsPerChannel);
void forgetWorldPixels(const void* pixels);

// PF_WorldSuite2.
const void* worldSuite();

}  // namespace refhost
