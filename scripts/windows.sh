#!/usr/bin/env bash
# Builds the Windows products with MinGW-w64 and checks them:
#   1. the build-machine tools (piplgen, pecheck, lumet_mapgen) natively;
#   2. Lumet.aex, the test programs (and lumet.exe where its image libraries exist) cross-built;
#   3. pecheck: Lumet.aex exports exactly EffectMain and PluginDataEntryFunction2, every binary
#      imports system DLLs only, and resource PIPL 16000/1033 equals the PiPL builder's bytes;
#   4. the test suite under wine64, CPU-only except the OpenCL tests, whose OpenCL goes through
#      Wine's opencl.dll to the system's ICD loader and POCL.
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
for program in "$build"/cli/lumet.exe "$build"/tests/*.exe; do
  [[ -f "$program" ]] || continue
  "$host/piplgen/pecheck" "$program" --system-imports-only >/dev/null ||
    "$host/piplgen/pecheck" "$program" --system-imports-only
done
echo "every program imports system DLLs only"

echo "== tests under Wine"
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
# Left out under Wine: the frame of 2^20 x 2^20 pixels whose planes Windows refuses to commit.
# Wine grants the terabyte commit from Linux's overcommitted address space, the render then fills
# it, and the kernel's OOM killer ends the process (and starves the machine) instead.
wine_excluded='^PlainRenderTest\.NewSizeReleasesTheSmartCacheAndMemoryFailureReleasesEverything$'
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -E "$wine_excluded"

echo "== Windows build and checks took $((SECONDS - start)) s"
