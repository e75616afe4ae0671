#!/usr/bin/env bash
# Builds the Windows products with MinGW-w64 and checks them:
#   1. the build-machine tools (piplgen, pecheck, lumet_mapgen) natively;
#   2. Lumet.aex, the test programs (and lumet.exe where its image libraries exist) cross-built;
#   3. pecheck: Lumet.aex exports exactly EffectMain and PluginDataEntryFunction2, every binary
#      imports system DLLs only, and resource PIPL 16000/1033 equals the PiPL builder's bytes;
#   4. the test suite under wine64, CPU-only except the OpenCL tests, whose OpenCL goes through
#      Wine's opencl.dll to the system's ICD loader and POCL;
#   5. lumet.exe under Wine against the Linux lumet (built in build/, or LUMET_LINUX_BUILD), on
#      the CPU: the same text layer (the text rasterisers differ, so only a mean difference is
#      bounded), then the same input PNG into 16-bit PNG and into float EXR (bounded to within one
#      8-bit step: only the C libraries' maths differ).
# Usage: scripts/windows.sh [build-dir]     (default build-win; the tools go to <build-dir>-host)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-win}
mkdir -p "$build" && build=$(cd "$build" && pwd)
host=${LUMET_WINDOWS_HOST_BUILD:-$build-host}
start=$SECONDS

"$root/scripts/install-deps.sh" windows

echo "== build-machine tools"
cmake -S "$root/tools/piplgen" -B "$host/piplgen" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$host/piplgen"
cmake -S "$root/tools/mapgen" -B "$host/mapgen" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$host/mapgen"
cmake -S "$root/tools/imgdiff" -B "$host/imgdiff" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$host/imgdiff"

echo "== Windows build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DLUMET_PIPLGEN_EXECUTABLE="$host/piplgen/piplgen" \
  -DLUMET_MAPGEN_EXECUTABLE="$host/mapgen/lumet_mapgen" >/dev/null
cmake --build "$build"

echo "== binary checks"
plugin=$build/plugin/Lumet.aex
expected_pipl=$host/pipl-expected.bin
"$host/piplgen/piplgen" "$expected_pipl"
x86_64-w64-mingw32-objdump -p "$plugin" | sed -n '/^The Export Tables/,/^$/p;/^\[Ordinal\/Name Pointer\] Table/,/^$/p'
"$host/piplgen/pecheck" "$plugin" --dll --exports EffectMain,PluginDataEntryFunction2 \
  --system-imports-only --pipl "$expected_pipl"
ofx=$build/Lumet.ofx.bundle/Contents/Win64/Lumet.ofx
x86_64-w64-mingw32-objdump -p "$ofx" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p'
"$host/piplgen/pecheck" "$ofx" --dll --exports OfxGetNumberOfPlugins,OfxGetPlugin,OfxSetHost \
  --system-imports-only
for program in "$build"/cli/lumet.exe "$build"/tests/*.exe; do
  [[ -f "$program" ]] || continue
  "$host/piplgen/pecheck" "$program" --system-imports-only >/dev/null ||
    "$host/piplgen/pecheck" "$program" --system-imports-only
done
echo "every program imports system DLLs only"

echo "== tests under Wine"
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
# One persistent Wine server for the whole run: a program that starts just as an idle server
# shuts down loses its connection ("recvmsg: Connection reset by peer") and fails for no fault
# of its own. The prefix is made first (by a first program), then the server stays until the end.
"$root/cmake/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
wineserver=${LUMET_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
"$wineserver" -p 2>/dev/null || true
trap '"$wineserver" -k 2>/dev/null || true' EXIT
# Left out under Wine: the frame of 2^20 x 2^20 pixels whose planes Windows refuses to commit.
# Wine grants the terabyte commit from Linux's overcommitted address space, the render then fills
# it, and the kernel's OOM killer ends the process (and starves the machine) instead.
# Also left out: the fault sweeps, hundreds of frames each, most preparing a 2048 x 1024 map,
# which take many minutes under Wine; what they check (the effect's answer to each failure) is the
# same code on both systems and runs natively and under the sanitizers. And the frames computed
# in bands against whole ones, which write TIFF files that lumet.exe does not write; the bands
# are the same code on both systems.
wine_excluded='^PlainRenderTest\.NewSizeReleasesTheSmartCacheAndMemoryFailureReleasesEverything$'
wine_excluded+='|^Frames/FaultSweep\.'
wine_excluded+='|^Maps/EveryPath\.'
wine_excluded+='|^StripFrames\.'
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -E "$wine_excluded"

echo "== lumet.exe against the Linux lumet"
linux=${LUMET_LINUX_BUILD:-$root/build}
[[ -f "$linux/CMakeCache.txt" ]] ||
  cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$linux" --target lumet Lumet
compare=$build/cli-compare
rm -rf "$compare" && mkdir -p "$compare"
imgdiff=$host/imgdiff/imgdiff
font='Z:\usr\share\fonts\truetype\dejavu\DejaVuSans-Bold.ttf'  # Wine's drive Z: is /
(
  cd "$compare"
  linux_lumet() { "$linux/cli/lumet" "$@" --device cpu --quiet; }
  windows_lumet() { "$root/cmake/wine-run.sh" "$build/cli/lumet.exe" "$@" --device cpu --quiet; }
  timed() {
    local t=$SECONDS
    "$@"
    echo "  $1 ${*: -1}: $((SECONDS - t)) s"
  }
  text=(render --text Lumet --preset Gold)
  timed linux_lumet "${text[@]}" -o gold.png
  timed windows_lumet "${text[@]}" --font "$font" -o gold-windows.png
  echo "text layer (FreeType and HarfBuzz against stb_truetype), straight-alpha 8-bit PNG:"
  "$imgdiff" gold.png gold-windows.png --mean 0.5

  same=(render gold.png --preset Silver --depth 16)
  timed linux_lumet "${same[@]}" -o silver.png
  timed windows_lumet "${same[@]}" -o silver-windows.png
  echo "the same 8-bit input, 16-bit PNG:"
  "$imgdiff" silver.png silver-windows.png --max 1 --mean 0.01

  float=(render silver.png --preset Copper --depth 32 --quality low)
  # lumet.exe writes the effect's sRGB-encoded colour as float; the Linux lumet is asked for it.
  timed linux_lumet "${float[@]}" --output-colorspace sRGB --exr-type float -o copper.exr
  timed windows_lumet "${float[@]}" -o copper-windows.exr
  echo "the same 16-bit input, float EXR:"
  "$imgdiff" copper.exr copper-windows.exr --max 1 --mean 0.01
)

echo "== Windows build and checks took $((SECONDS - start)) s"
