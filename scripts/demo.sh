#!/usr/bin/env bash
# The demo: installs what is missing, builds both plug-ins (plugin/Lumet.so and Lumet.ofx.bundle),
# the lumet command and imgdiff (tools/imgdiff/imgdiff) in the build folder, renders the word
# "Lumet" in the Gold preset at 1920 x 1080 into out/demo.png and a contact sheet of the nine
# presets into out/presets.png.
# Usage: scripts/demo.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target Lumet LumetOfx lumet imgdiff
lumet="$build/cli/lumet"
out="$root/out"
mkdir -p "$out/presets"
background="#0B0B10"
# lumet's own default (auto): OpenCL on a GPU or accelerator, else the effect's CPU code.
# LUMET_DEVICE=cpu or opencl chooses otherwise.
device=${LUMET_DEVICE:-auto}

echo "demo: rendering out/demo.png"
"$lumet" render --device "$device" --text "Lumet" --size 1920x1080 --preset Gold \
  --background "$background" -o "$out/demo.png"

tiles=()
for preset in "Gold" "Silver" "Rose Gold" "Bronze" "Copper" "Platinum" "Brushed Steel" \
              "Black Chrome" "Diamond"; do
  file="$out/presets/${preset// /_}.png"
  echo "demo: rendering preset $preset"
  "$lumet" render --device "$device" --text "Lumet" --size 640x300 --preset "$preset" \
    --background "$background" -o "$file"
  tiles+=("$file=$preset")
done
"$lumet" montage --columns 3 --background "$background" -o "$out/presets.png" "${tiles[@]}"
echo "demo: wrote $out/demo.png and $out/presets.png"
