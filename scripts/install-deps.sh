#!/usr/bin/env bash
# Installs every Debian package the project needs that is not installed yet. Idempotent and quiet
# when nothing is missing. Needs root (or sudo) only when something must be installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libstb-dev
  opencl-headers ocl-icd-libopencl1 pocl-opencl-icd
  libpng-dev libopenexr-dev libfreetype-dev libharfbuzz-dev fonts-dejavu-core libcli11-dev
  file binutils dpkg-dev
  slurm-wlm munge
  libopenimageio-dev openimageio-tools
  frei0r-plugins-dev libgegl-dev ffmpeg melt gegl
)
# Extra groups: "windows" adds the MinGW cross compiler and Wine; "tsan" and "fuzz" clang with
# its sanitizer runtimes and libFuzzer (scripts/tsan.sh, scripts/fuzz.sh).
for group in "$@"; do
  case "$group" in
    windows) packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 libz-mingw-w64-dev) ;;
    tsan | fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
