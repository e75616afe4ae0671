#!/usr/bin/env bash
# Makes the release archives from finished builds:
#   dist/lumet-VERSION-linux-x86_64.tar.gz  Lumet.ofx.bundle, bin/lumet and lib/lumet/Lumet.so
#   dist/lumet-VERSION-win64.zip            Lumet.aex, Lumet.ofx.bundle, lumet.exe, INSTALL.txt
# Usage: scripts/package.sh [LINUX_BUILD [WINDOWS_BUILD]]  (defaults build and build-win; an
# archive whose build is missing is skipped with a note). The Linux tree is laid out as
# cmake --install lays out a prefix (bin/, lib/lumet/), with the bundle in OFX/Plugins: copy that
# folder into /usr/OFX/Plugins.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}
windows_build=${2:-build-win}
version=$(sed -n 's/^project(Lumet VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p dist
dist=$(pwd)/dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

if [[ -f $linux_build/cli/lumet && -d $linux_build/Lumet.ofx.bundle ]]; then
  root=$stage/lumet-$version-linux-x86_64
  mkdir -p "$root/bin" "$root/lib/lumet" "$root/OFX/Plugins"
  cp "$linux_build/cli/lumet" "$root/bin/"
  cp "$linux_build/plugin/Lumet.so" "$root/lib/lumet/"
  cp -r "$linux_build/Lumet.ofx.bundle" "$root/OFX/Plugins/"
  tar -C "$stage" -czf "$dist/lumet-$version-linux-x86_64.tar.gz" "lumet-$version-linux-x86_64"
  echo "dist/lumet-$version-linux-x86_64.tar.gz"
else
  echo "no Linux build in $linux_build: Linux archive skipped" >&2
fi

if [[ -f $windows_build/plugin/Lumet.aex && -d $windows_build/Lumet.ofx.bundle ]]; then
  root=$stage/lumet-$version-win64
  mkdir -p "$root"
  cp "$windows_build/plugin/Lumet.aex" "$root/"
  cp -r "$windows_build/Lumet.ofx.bundle" "$root/"
  if [[ -f $windows_build/cli/lumet.exe ]]; then cp "$windows_build/cli/lumet.exe" "$root/"; fi
  cat > "$root/INSTALL.txt" <<'NOTE'
Lumet for Windows (64-bit)

OpenFX hosts: copy the folder Lumet.ofx.bundle into
    C:\Program Files\Common Files\OFX\Plugins
Effect hosts: copy Lumet.aex into the host's plug-in folder, for example
    C:\Program Files\Adobe\Common\Plug-ins\7.0\MediaCore
Command line: lumet.exe render --help (lumet.exe finds Lumet.aex beside it, or give --plugin).
Restart the host afterwards; Lumet appears in the Veltra category.
NOTE
  (cd "$stage" && rm -f "$dist/lumet-$version-win64.zip" &&
     cmake -E tar cf "$dist/lumet-$version-win64.zip" --format=zip "lumet-$version-win64")
  echo "dist/lumet-$version-win64.zip"
else
  echo "no Windows build in $windows_build: Windows archive skipped (scripts/windows.sh)" >&2
fi
