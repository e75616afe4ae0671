#!/usr/bin/env bash
# Makes the release packages from finished builds, after checking every binary they carry:
#   dist/lumet_VERSION_amd64.deb                  /usr/bin/lumet, /usr/lib/lumet/Lumet.so and
#                                                 liblumet-oiio.so (lumet's image files),
#                                                 /usr/OFX/Plugins/Lumet.ofx.bundle,
#                                                 /usr/lib/frei0r-1/lumet.so and GEGL's
#                                                 /usr/lib/<multiarch>/gegl-0.4/lumet.so (cpack)
#   dist/lumet-VERSION-linux-x86_64.tar.gz        the same tree as cmake --install --prefix lays
#                                                 out: bin/, lib/lumet/, lib/frei0r-1/,
#                                                 lib/<multiarch>/gegl-0.4/, OFX/Plugins/
#   dist/lumet-VERSION-linux-x86_64-debug.tar.gz  the binaries' debug files (.debug/ folders)
#   dist/lumet-VERSION-win64.zip                  Lumet.aex, Lumet.ofx.bundle, lumet.exe,
#                                                 INSTALL.txt
# Usage: scripts/package.sh [LINUX_BUILD [WINDOWS_BUILD]]  (defaults build and build-win; a
# build folder that does not exist is skipped with a note, at least one must).
# Every binary must be there, built for x86-64, and export exactly its entry points; the Linux
# ones must be stripped as packed and the plug-ins must need the C library only. Any fault stops
# the script with a non-zero status and names the file and what is wrong.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build}
windows_build=${2:-build-win}
version=$(sed -n 's/^project(Lumet VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p dist
dist=$(pwd)/dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

fail() { echo "package: $*" >&2; exit 1; }

# check_binary FILE KIND [EXPORT...]: KIND is elf-library, elf-program, pe-library or
# pe-program; the exports are the exact list of defined exported symbols (libraries).
check_binary() {
  local file=$1 kind=$2
  shift 2
  [[ -f $file ]] || fail "$file is missing"
  local type
  type=$(file -b "$file")
  case "$kind" in
    elf-library | elf-module) [[ $type == "ELF 64-bit LSB shared object, x86-64"* ]] ;;
    elf-program) [[ $type == "ELF 64-bit LSB pie executable, x86-64"* ||
                    $type == "ELF 64-bit LSB executable, x86-64"* ]] ;;
    pe-library) [[ $type == "PE32+ executable (DLL)"*"x86-64"* ]] ;;
    pe-program) [[ $type == "PE32+ executable (console) x86-64"* ]] ;;
  esac || fail "$file is not an x86-64 ${kind/-/ }: $type"
  local exports=""
  case "$kind" in
    elf-*)
      [[ $type == *", stripped"* ]] || fail "$file is not stripped: $type"
      exports=$(nm -D --defined-only "$file" | awk '{print $NF}' | sort | xargs)
      ;;
    pe-library)
      exports=$(objdump -p "$file" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
                sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | xargs)
      ;;
  esac
  if [[ $kind == *-library || $kind == elf-module ]]; then
    local expected
    expected=$(printf '%s\n' "$@" | sort | xargs)
    [[ $exports == "$expected" ]] || fail "$file exports [$exports], not exactly [$expected]"
  fi
  if [[ $kind == elf-library ]]; then
    local needed library
    needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    for library in $needed; do
      case "$library" in
        libc.so.6 | libm.so.6 | libdl.so.2 | libpthread.so.0 | librt.so.1 | ld-linux-x86-64.so.2) ;;
        # A GEGL operation uses the GEGL, babl and GLib of the program that loads it.
        libgegl-0.4.so.0 | libbabl-0.1.so.0 | libglib-2.0.so.0 | libgobject-2.0.so.0)
          [[ $file == */gegl-0.4/* ]] || fail "$file needs $library" ;;
        *) fail "$file needs $library; a plug-in may need the C library only" ;;
      esac
    done
  fi
}

ofx_exports=(OfxGetNumberOfPlugins OfxGetPlugin OfxSetHost)
effect_exports=(EffectMain PluginDataEntryFunction2)
frei0r_exports=(f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value
                f0r_get_plugin_info f0r_init f0r_set_param_value f0r_update)
gegl_exports=(gegl_module_query gegl_module_register)

# check_linux_tree ROOT OFX_DIR: an installed tree, lumet in ROOT/bin, Lumet.so in
# ROOT/lib/lumet, the bundle in OFX_DIR, the frei0r filter in ROOT/lib/frei0r-1 and the GEGL
# operation in GEGL's folder under ROOT/lib.
check_linux_tree() {
  check_binary "$1/bin/lumet" elf-program
  check_binary "$1/lib/lumet/Lumet.so" elf-library "${effect_exports[@]}"
  # lumet's own OpenImageIO library (a module of the program, not a plug-in: it needs OpenImageIO).
  check_binary "$1/lib/lumet/liblumet-oiio.so" elf-module lumetImageLibrary
  check_binary "$2/Lumet.ofx.bundle/Contents/Linux-x86-64/Lumet.ofx" elf-library "${ofx_exports[@]}"
  check_binary "$1/lib/frei0r-1/lumet.so" elf-library "${frei0r_exports[@]}"
  local gegl
  gegl=$(find "$1/lib" -path '*/gegl-0.4/lumet.so' | head -n 1)
  [[ -n $gegl ]] || fail "$1/lib has no gegl-0.4/lumet.so"
  check_binary "$gegl" elf-library "${gegl_exports[@]}"
}

made=0
if [[ -f $linux_build/CMakeCache.txt ]]; then
  # The build's own binaries first, so that a missing one is named as such.
  for file in cli/lumet cli/liblumet-oiio.so plugin/Lumet.so \
              Lumet.ofx.bundle/Contents/Linux-x86-64/Lumet.ofx \
              frei0r-1/lumet.so gegl-0.4/lumet.so; do
    [[ -f $linux_build/$file ]] || fail "$linux_build/$file is missing (build the whole tree)"
  done
  [[ -f $linux_build/CPackConfig.cmake ]] || fail "$linux_build has no CPackConfig.cmake: run cmake on it again"

  name=lumet-$version-linux-x86_64
  cmake --install "$linux_build" --prefix "$stage/$name" >/dev/null
  check_linux_tree "$stage/$name" "$stage/$name/OFX/Plugins"
  tar -C "$stage" -czf "$dist/$name.tar.gz" "$name"
  echo "dist/$name.tar.gz"
  cmake --install "$linux_build" --prefix "$stage/$name-debug" --component debug >/dev/null
  tar -C "$stage" -czf "$dist/$name-debug.tar.gz" "$name-debug"
  echo "dist/$name-debug.tar.gz"

  (cd "$linux_build" && cpack -G DEB -B "$stage/deb" >/dev/null)
  deb=$(ls "$stage"/deb/*.deb)
  dpkg-deb -x "$deb" "$stage/deb/root"
  check_linux_tree "$stage/deb/root/usr" "$stage/deb/root/usr/OFX/Plugins"
  cp "$deb" "$dist/"
  echo "dist/$(basename "$deb")"
  made=1
else
  echo "no Linux build in $linux_build: Linux packages skipped" >&2
fi

if [[ -f $windows_build/CMakeCache.txt ]]; then
  check_binary "$windows_build/plugin/Lumet.aex" pe-library "${effect_exports[@]}"
  check_binary "$windows_build/Lumet.ofx.bundle/Contents/Win64/Lumet.ofx" pe-library \
    "${ofx_exports[@]}"
  check_binary "$windows_build/cli/lumet.exe" pe-program
  root=$stage/lumet-$version-win64
  mkdir -p "$root"
  cp "$windows_build/plugin/Lumet.aex" "$windows_build/cli/lumet.exe" "$root/"
  cp -r "$windows_build/Lumet.ofx.bundle" "$root/"
  # Release binaries without their symbol tables (the MinGW tools, from the windows group of
  # install-deps.sh).
  if command -v x86_64-w64-mingw32-strip >/dev/null; then
    x86_64-w64-mingw32-strip --strip-unneeded "$root/Lumet.aex" "$root/lumet.exe" \
      "$root/Lumet.ofx.bundle/Contents/Win64/Lumet.ofx"
  fi
  cat > "$root/INSTALL.txt" <<'NOTE'
Lumet for Windows (64-bit)

OpenFX hosts: copy the folder Lumet.ofx.bundle into
    C:\Program Files\Common Files\OFX\Plugins
(or into a folder named in the OFX_PLUGIN_PATH environment variable).
Effect hosts: copy Lumet.aex into the host's plug-in folder, for example
    C:\Program Files\Adobe\Common\Plug-ins\7.0\MediaCore
Command line: lumet.exe render --help (lumet.exe finds Lumet.aex beside it, or give --plugin).
Restart the host afterwards; Lumet appears in the Veltra category.
NOTE
  (cd "$stage" && rm -f "$dist/lumet-$version-win64.zip" &&
     cmake -E tar cf "$dist/lumet-$version-win64.zip" --format=zip "lumet-$version-win64")
  echo "dist/lumet-$version-win64.zip"
  made=1
else
  echo "no Windows build in $windows_build: Windows archive skipped (scripts/windows.sh)" >&2
fi
((made)) || fail "no build to package in $linux_build or $windows_build"
