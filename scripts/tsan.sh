#!/usr/bin/env bash
# Builds the render tests with clang's ThreadSanitizer and runs the tests that render on several
# threads at once: the CPU path, and the OpenCL path on POCL. Any report fails the run.
# Usage: scripts/tsan.sh [build-dir]      (default build-tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-tsan}
"$root/scripts/install-deps.sh" tsan
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMET_TSAN=ON -DLUMET_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target lumet_tests_render lumet_tests_gpu
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp}
ctest --test-dir "$build" --output-on-failure -R 'Concurrent'
