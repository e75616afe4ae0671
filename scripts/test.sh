#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Usage: scripts/test.sh [build-dir]      (LUMET_SANITIZE=1 for the ASan + UBSan build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/install-deps.sh"
sanitize=OFF
build_type=Release
if [[ "${LUMET_SANITIZE:-0}" == 1 ]]; then sanitize=ON; build_type=RelWithDebInfo; fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=$build_type -DLUMET_SANITIZE=$sanitize >/dev/null
cmake --build "$build"
# allocator_may_return_null: the effect asks for planes that cannot exist (a huge frame) and
# must see a failed allocation, as it would without the sanitizer.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Under the sanitizers the every-path matrix (some 150 whole renders, which prove frames equal
# rather than memory safe) is left to the plain build.
excluded=()
if [[ $sanitize == ON ]]; then excluded=(-E '^Maps/EveryPath\.'); fi
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "${excluded[@]}"
