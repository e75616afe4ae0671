#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder, and fuzzes each for a bounded time: the
# whole frame for half of it, the stage targets (planes, custom_map, settings, cli_options, png)
# for a tenth each.
#
#   scripts/fuzz.sh [--time SECONDS] [--build DIR] [--only TARGET] [-- LIBFUZZER OPTIONS...]
#
# SECONDS defaults to $LUMET_FUZZ_TIME, else 60 (with --only, the one target gets all of it);
# TARGET is render or a stage target's name; DIR defaults to build-fuzz. New inputs go to
# DIR/corpus (the whole frame) and DIR/corpus-NAME (the stage targets); the committed seeds in
# tests/fuzz/corpus and tests/fuzz/corpora/NAME are read, never written. A crash is written to
# DIR/artifacts/ and ends the run with a non-zero status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${LUMET_FUZZ_TIME:-60}
build=$root/build-fuzz
only=
while [[ $# -gt 0 ]]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "fuzz.sh: unknown argument '$1' (see the comment at the top)" >&2; exit 2 ;;
  esac
done
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "fuzz.sh: --time needs whole seconds" >&2; exit 2; }

"$root/scripts/install-deps.sh" fuzz
stages=(planes custom_map settings cli_options png)
# Only what the fuzz targets need is built: no tests, benchmarks or command.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMET_FUZZ=ON -DLUMET_BUILD_TESTS=OFF -DLUMET_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target lumet_fuzz "${stages[@]/#/lumet_fuzz_}"

mkdir -p "$build/artifacts"
# fuzz NAME SECONDS BINARY CORPUS SEEDS [OPTIONS...]
fuzz() {
  local name=$1 time=$2 binary=$3 corpus=$4 seeds=$5
  shift 5
  mkdir -p "$corpus" "$seeds"
  echo "fuzz.sh: $name for ${time}s"
  # The effect keeps to the CPU: OpenCL under the sanitizers is slow and not ours to fuzz.
  # OpenImageIO's own leak on truncated PNGs is suppressed as in the sanitizer test runs.
  LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0} \
    LUMET_OPENCL=off "$binary" -max_total_time="$time" -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "$@" "$corpus" "$seeds"
}
if [[ -z "$only" || "$only" == render ]]; then
  share=$([[ -n "$only" ]] && echo "$seconds" || echo $(( (seconds + 1) / 2 )))
  fuzz render "$share" "$build/tests/fuzz/lumet_fuzz" "$build/corpus" "$root/tests/fuzz/corpus" \
    -timeout=120 "$@"
fi
for name in "${stages[@]}"; do
  [[ -z "$only" || "$only" == "$name" ]] || continue
  share=$([[ -n "$only" ]] && echo "$seconds" || echo $(( (seconds + 9) / 10 )))
  fuzz "$name" "$share" "$build/tests/fuzz/lumet_fuzz_$name" "$build/corpus-$name" \
    "$root/tests/fuzz/corpora/$name" -timeout=10 -max_len=4096 "$@"
done
