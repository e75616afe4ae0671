#!/usr/bin/env bash
# Builds the libFuzzer target (tests/fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in its own build folder, and fuzzes the effect for a bounded time.
#
#   scripts/fuzz.sh [--time SECONDS] [--build DIR] [-- LIBFUZZER OPTIONS...]
#
# SECONDS defaults to $LUMET_FUZZ_TIME, else 60; DIR to build-fuzz. New inputs go to
# DIR/corpus (the committed seeds in tests/fuzz/corpus are read, never written); a crash is
# written to DIR/artifacts/ and ends the run with a non-zero status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${LUMET_FUZZ_TIME:-60}
build=$root/build-fuzz
while [[ $# -gt 0 ]]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "fuzz.sh: unknown argument '$1' (see the comment at the top)" >&2; exit 2 ;;
  esac
done
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "fuzz.sh: --time needs whole seconds" >&2; exit 2; }

"$root/scripts/install-deps.sh" fuzz
# Only what the fuzz target needs is built: no tests, benchmarks or command.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMET_FUZZ=ON -DLUMET_BUILD_TESTS=OFF -DLUMET_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target lumet_fuzz

mkdir -p "$build/corpus" "$build/artifacts"
# The effect keeps to the CPU: OpenCL under the sanitizers is slow and not ours to fuzz.
LUMET_OPENCL=off "$build/tests/fuzz/lumet_fuzz" -max_total_time="$seconds" -rss_limit_mb=4096 \
  -timeout=120 -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$@" \
  "$build/corpus" "$root/tests/fuzz/corpus"
