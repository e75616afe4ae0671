#!/usr/bin/env bash
# Renders an animation on a Slurm cluster as one job array: array task i renders frames
# i*CHUNK .. i*CHUNK+CHUNK-1 (the last chunk may be shorter) with `lumet render --range`, all
# tasks into the same output pattern. A task whose render fails ends FAILED with lumet's exit
# status, and so does the job (with --wait, sbatch exits with the highest status of its tasks).
#
# Usage: scripts/slurm-render.sh --frames N [--chunk K] [--lumet PATH] [SBATCH_OPTION...] \
#            -- RENDER_OPTION... -o PATTERN
#   --frames N     frames of the animation (numbered 0 .. N-1), as `lumet render --frames`
#   --chunk K      frames per array task (default 10)
#   --lumet PATH   the lumet command the nodes run (default: $LUMET, else lumet on PATH, else
#                  this checkout's build/cli/lumet); its path and the output folder must be the
#                  same on every node (a shared file system)
#   other options before `--` go to sbatch (--wait, --partition=..., --output=..., ...)
# Everything after `--` goes to `lumet render`, without --frames and --range, which the tasks
# add. Relative paths are taken from the submitting folder, every task's working folder.
#
# Example: scripts/slurm-render.sh --frames 240 --chunk 24 --wait -- --text Lumet \
#            --key "Light Angle@0=0" --key "Light Angle@239=360" -o /shared/spin_%04d.png
set -euo pipefail

if [[ "${1:-}" == --task ]]; then
  # One array task (sbatch runs a copy of this script): its chunk of the animation.
  shift
  lumet=$1 frames=$2 chunk=$3
  shift 3
  first=$((SLURM_ARRAY_TASK_ID * chunk))
  last=$((first + chunk - 1))
  ((last < frames)) || last=$((frames - 1))
  echo "lumet-farm: task $SLURM_ARRAY_TASK_ID on $(hostname): frames $first-$last"
  exec "$lumet" render "$@" --frames "$frames" --range "$first-$last"
fi

usage() {
  sed -n '/^# Usage:/,/^# Everything/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

frames="" chunk=10 lumet=${LUMET:-}
sbatch_args=()
while (($#)); do
  case "$1" in
    --frames) frames=${2:?}; shift 2 ;;
    --chunk) chunk=${2:?}; shift 2 ;;
    --lumet) lumet=${2:?}; shift 2 ;;
    --) shift; break ;;
    -h | --help) usage ;;
    *) sbatch_args+=("$1"); shift ;;
  esac
done
[[ "$frames" =~ ^[1-9][0-9]*$ && "$chunk" =~ ^[1-9][0-9]*$ ]] || {
  echo "slurm-render: --frames and --chunk need counts of 1 or more" >&2
  usage
}
(($#)) || { echo "slurm-render: no render options after --" >&2; usage; }
for arg in "$@"; do
  case "$arg" in
    --frames | --range) echo "slurm-render: give --frames before --; the tasks set --range" >&2; exit 2 ;;
  esac
done

if [[ -z "$lumet" ]]; then
  lumet=$(command -v lumet || true)
  [[ -n "$lumet" ]] || lumet=$(cd "$(dirname "$0")/.." && pwd)/build/cli/lumet
fi
[[ -x "$lumet" ]] || { echo "slurm-render: no lumet command at '$lumet' (--lumet PATH)" >&2; exit 2; }
lumet=$(cd "$(dirname "$lumet")" && pwd)/$(basename "$lumet")

chunks=$(((frames + chunk - 1) / chunk))
exec sbatch --job-name=lumet-render --array="0-$((chunks - 1))" "${sbatch_args[@]}" \
  "$(cd "$(dirname "$0")" && pwd)/$(basename "$0")" --task "$lumet" "$frames" "$chunk" "$@"
