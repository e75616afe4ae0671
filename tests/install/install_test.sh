#!/usr/bin/env bash
# cmake --install into a temporary prefix: the installed lumet must render through the installed
# plug-ins (both hosts) the same bytes as the build tree's, find the bundle through
# OFX_PLUGIN_PATH once it is moved out of the prefix, and the installed binaries must be
# stripped; with STATIC_RUNTIME=1 the plug-ins must need the C library only.
# Usage: install_test.sh BUILD_DIR LUMET STATIC_RUNTIME
set -euo pipefail
build=$1 lumet=$2 static_runtime=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
bundle=$prefix/OFX/Plugins/Lumet.ofx.bundle
ofx=$bundle/Contents/Linux-x86-64/Lumet.ofx
frei0r=$prefix/lib/frei0r-1/lumet.so
gegl=$(find "$prefix/lib" -path '*/gegl-0.4/lumet.so' | head -n 1)
[[ -n $gegl ]] || { echo "no gegl-0.4/lumet.so under $prefix/lib"; exit 1; }
for file in "$prefix/bin/lumet" "$prefix/lib/lumet/Lumet.so" "$prefix/lib/lumet/liblumet-oiio.so" \
            "$ofx" "$frei0r" "$gegl"; do
  [[ $(file -b "$file") == *", stripped"* ]] || { echo "not stripped: $file"; exit 1; }
  # (The GEGL operation also needs the GEGL of the program that loads it; lumet's image library
  # is a part of lumet, which needs OpenImageIO.)
  if [[ $static_runtime == 1 && $file != */bin/lumet && $file != */liblumet-oiio.so &&
        $file != "$gegl" ]]; then
    needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | xargs)
    [[ $needed == "ld-linux-x86-64.so.2 libc.so.6 libm.so.6" ]] ||
      { echo "$file needs: $needed"; exit 1; }
  fi
done

scene=(--text Lumet --size 240x120 --preset Copper --device cpu -q)
"$lumet" render "${scene[@]}" -o "$work/build.png"
for host in ae ofx; do
  "$prefix/bin/lumet" render "${scene[@]}" --host "$host" -o "$work/$host.png"
  cmp "$work/build.png" "$work/$host.png"
done
# Image files go through the installed image library: a layer read and an OpenEXR written (with
# the time stamp fixed).
layer=(--preset Copper --device cpu -q)
SOURCE_DATE_EPOCH=0 "$lumet" render "$work/build.png" "${layer[@]}" -o "$work/build.exr"
SOURCE_DATE_EPOCH=0 "$prefix/bin/lumet" render "$work/build.png" "${layer[@]}" -o "$work/installed.exr"
cmp "$work/build.exr" "$work/installed.exr"

# The installed frei0r filter renders through ffmpeg what the build tree's renders (the
# sanitizer builds, whose plug-ins need their runtime preloaded, leave this to tests/frei0r).
if [[ $static_runtime == 1 ]] && command -v ffmpeg >/dev/null; then
  for where in build installed; do
    plugins=$build/frei0r-1
    [[ $where == installed ]] && plugins=$prefix/lib/frei0r-1
    FREI0R_PATH=$plugins ffmpeg -v error -y -i "$work/build.png" -vf frei0r=lumet:Gold \
      -frames:v 1 "$work/frei0r-$where.png"
  done
  cmp "$work/frei0r-build.png" "$work/frei0r-installed.png"
fi

# The bundle elsewhere, named by the second entry of OFX_PLUGIN_PATH.
mkdir "$work/plugins"
mv "$bundle" "$work/plugins/"
OFX_PLUGIN_PATH="$work/none:$work/plugins" \
  "$prefix/bin/lumet" render "${scene[@]}" --host ofx -o "$work/moved.png"
cmp "$work/build.png" "$work/moved.png"
if [[ ! -d /usr/OFX/Plugins/Lumet.ofx.bundle ]] &&
   "$prefix/bin/lumet" render "${scene[@]}" --host ofx -o "$work/none.png" 2>/dev/null; then
  echo "rendered through a bundle that is not where lumet looks"
  exit 1
fi
echo "installed lumet renders through both installed plug-ins and finds a moved bundle"
