#!/usr/bin/env bash
# Renders a fixed set of scenes with two builds of the lumet command and compares the files byte
# for byte: both protocols, the CPU and the OpenCL device, every preset, style and edge profile,
# 8, 16 and 32 bits, both qualities, keyed animations, a custom map and the map view. For a change
# that must leave every image as it was, build the commit before it and compare:
#   git worktree add /tmp/before HEAD~1 && cmake -S /tmp/before -B /tmp/before/build -G Ninja \
#     -DCMAKE_BUILD_TYPE=Release && cmake --build /tmp/before/build --target lumet Lumet
#   scripts/compare-renders.sh /tmp/before/build/cli/lumet build/cli/lumet
# Exit status 0 when every scene is identical, 1 otherwise (each differing scene is printed).
set -uo pipefail
if [[ $# -ne 2 ]]; then
  echo "usage: $0 REFERENCE_LUMET NEW_LUMET" >&2
  exit 2
fi
reference=$1 candidate=$2
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
serif=/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf
# OpenEXR files carry the time they were written unless this fixes it.
export SOURCE_DATE_EPOCH=0
scenes=0 differing=0
# PNGs at zlib's default level (6) from both commands, so that the files compare byte for byte; a
# command from before --png-level existed wrote that level anyway.
# The help is read whole: grep -q would stop reading it, and under pipefail the command's broken
# pipe would read as no match.
png_level() {
  local help
  help=$("$1" render --help 2>&1)
  [[ $help == *--png-level* ]] && echo --png-level 6
}
read -ra reference_level <<<"$(png_level "$reference")"
read -ra candidate_level <<<"$(png_level "$candidate")"

# One scene: the same arguments through both commands, every written file compared.
scene() {
  scenes=$((scenes + 1))
  local name=s$scenes ext=$1
  shift
  mkdir -p "$work/a/$name" "$work/b/$name"
  "$reference" render "$@" "${reference_level[@]}" --quiet -o "$work/a/$name/f_%02d.$ext" 2>/dev/null
  local statusA=$?
  "$candidate" render "$@" "${candidate_level[@]}" --quiet -o "$work/b/$name/f_%02d.$ext" 2>/dev/null
  local statusB=$?
  # A scene that renders nothing proves nothing: it counts as differing.
  if [[ $statusA != 0 || $statusB != 0 ]] ||
    ! diff -rq "$work/a/$name" "$work/b/$name" >/dev/null; then
    differing=$((differing + 1))
    echo "differs (exit $statusA/$statusB): $*"
  fi
  rm -rf "$work/a/$name" "$work/b/$name"
}

for protocol in smart plain; do
  for device in cpu auto; do
    common=(--protocol "$protocol" --device "$device")
    for preset in Gold Silver "Rose Gold" Bronze Copper Platinum "Brushed Steel" "Black Chrome" \
      Diamond; do
      scene png --text Lumet --size 640x300 --preset "$preset" "${common[@]}"
    done
    for style in "Outer Bevel" "Full Bevel" Emboss Pillow; do
      scene png --text Ag --font "$serif" --size 400x200 --set "Bevel Style=$style" --quality low \
        "${common[@]}"
    done
    for profile in Round "Chisel Hard" "Chisel Soft" Mesa; do
      scene exr --text Ag --font "$serif" --size 400x200 --set "Edge Profile=$profile" --depth 32 \
        "${common[@]}"
    done
    scene png --text Wave --size 500x240 --depth 16 --set Dispersion=40 --set Anisotropy=20 \
      "${common[@]}"
    scene png --text Wave --size 500x240 --set "HDRI Map=Strips" --set Blur=0 \
      --set "Smart Edge=off" "${common[@]}"
    scene png --text Glow --size 500x240 --frames 4 --key "Glow Radius@0=10" \
      --key "Glow Radius@3=200" --key "Light Angle@0=0" --key "Light Angle@3=90" "${common[@]}"
    scene png --text Bev --size 500x240 --frames 3 --key "Bevel Depth@0=20" \
      --key "Bevel Depth@2=300" --quality low "${common[@]}"
    scene png --text Env --size 500x240 --set "Show Env Map=on" "${common[@]}"
    scene png --text Cus --size 500x240 --custom-map "$root/docs/demo.png" "${common[@]}"
  done
done
echo "$scenes scenes, $differing differing"
[[ $differing == 0 ]]
