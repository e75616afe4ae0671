#!/usr/bin/env bash
# Runs a Windows program under wine64: the emulator of the MinGW build (tests, test discovery).
# The Wine prefix lives in the build folder (LUMET_WINEPREFIX or WINEPREFIX overrides it) and is
# created on first use; Wine's own messages are silenced unless WINEDEBUG is set.
set -euo pipefail
wine=""
for candidate in "${LUMET_WINE64:-}" "$(command -v wine64 || true)" /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
  if [[ -n "$candidate" && -x "$candidate" ]]; then wine=$candidate; break; fi
done
[[ -n "$wine" ]] || { echo "wine-run: wine64 not found" >&2; exit 127; }

if [[ -z "${WINEPREFIX:-}" ]]; then
  if [[ -n "${LUMET_WINEPREFIX:-}" ]]; then
    WINEPREFIX=$LUMET_WINEPREFIX
  else
    # The prefix sits in the build folder: the first folder above the program with a CMakeCache.
    dir=$(cd "$(dirname "$1")" && pwd)
    while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir=$(dirname "$dir"); done
    [[ "$dir" == / ]] && dir=${TMPDIR:-/tmp}
    WINEPREFIX=$dir/wineprefix
  fi
fi
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No Wine dialogs (missing Mono or Gecko) in unattended runs. opencl=n,b: Wine would otherwise
# prefer its built-in opencl.dll over any OpenCL.dll file the search order finds; native-first
# makes it search as Windows does, so a planted copy would really be loaded by a careless loader
# (tests/platform checks that ours is not).
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;opencl=n,b}
export DISPLAY=
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  mkdir -p "$WINEPREFIX"
  # Two parallel first runs would both create the prefix; a lock keeps that to one.
  (
    flock 9
    [[ -f "$WINEPREFIX/system.reg" ]] || "$wine" wineboot -i >/dev/null 2>&1 || true
    "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
