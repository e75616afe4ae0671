#!/usr/bin/env bash
# Starts a one-node Slurm cluster on this machine (munged, slurmctld and slurmd on localhost, in a
# temporary folder, on free ports), renders a 24-frame animation through scripts/slurm-render.sh
# as a job array of 4 chunks, and requires every frame byte for byte equal to the same animation
# rendered by one lumet process. Also requires a job whose tasks fail to fail. The daemons are
# stopped whatever happens.
# Usage: slurm_render_test.sh LUMET   (exit 77, a skip, without root or without Slurm and munge)
set -euo pipefail
lumet=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)

if [[ $(id -u) -ne 0 ]]; then echo "skip: the Slurm daemons need root"; exit 77; fi
for command in munged slurmctld slurmd sbatch sinfo; do
  command -v "$command" >/dev/null || { echo "skip: no $command (slurm-wlm, munge)"; exit 77; }
done

work=$(mktemp -d /tmp/lumet-slurm.XXXXXX)
chmod 755 "$work"  # munged wants its socket's folders open to all
pids=()
stop() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  local pid alive=1
  for _ in $(seq 50); do
    alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    ((alive)) || break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if ((status != 0)); then
    for log in "$work"/*.log "$work"/out/slurm-*.out; do
      [[ -f $log ]] && { echo "--- $log"; tail -n 20 "$log"; }
    done
  fi
  rm -rf "$work"
  exit "$status"
}
trap stop EXIT
trap 'exit 1' INT TERM

# A port nothing listens on (another cluster of this test may run beside).
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 30000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 600 "$work/munge.key"
munged --foreground --socket="$work/munge.socket" --key-file="$work/munge.key" \
  --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munged.seed" &
pids+=($!)

memory_mb=$(($(awk '/MemTotal/ {print $2}' /proc/meminfo) / 1024 / 2))
mkdir -p "$work/state" "$work/spool" "$work/out" "$work/single"
cat > "$work/slurm.conf" <<CONF
ClusterName=lumettest
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge.socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
MailProg=/bin/true
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SlurmdParameters=config_overrides
ReturnToService=2
# sbatch --wait polls every 2 s, not at 2, 8 and then 32 s intervals, when finished jobs are
# forgotten this soon
MinJobAge=6
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$memory_mb State=UNKNOWN
PartitionName=render Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
for _ in $(seq 50); do [[ -S $work/munge.socket ]] && break; sleep 0.1; done
slurmctld -D -i &
pids+=($!)
slurmd -D -N localhost &
pids+=($!)
node_state() { timeout 5 sinfo -h -n localhost -o %t 2>/dev/null || true; }
for _ in $(seq 200); do
  [[ $(node_state) == idle ]] && break
  sleep 0.1
done
[[ $(node_state) == idle ]] || { echo "the node did not come up: $(node_state)"; exit 1; }

animation=(--text Lumet --size 320x180 --key "Light Angle@0=0" --key "Light Angle@23=360"
           --device cpu -q)
start=$(date +%s%N)
"$lumet" render "${animation[@]}" --frames 24 -o "$work/single/frame_%04d.png"
single=$((($(date +%s%N) - start) / 1000000))

cd "$work/out"
start=$(date +%s%N)
timeout 120 "$root/scripts/slurm-render.sh" --frames 24 --chunk 6 --lumet "$lumet" --wait \
  --output="$work/out/slurm-%A_%a.out" -- "${animation[@]}" -o "$work/out/frame_%04d.png"
farm=$((($(date +%s%N) - start) / 1000000))
echo "one process: ${single} ms; Slurm, 4 array tasks of 6 frames: ${farm} ms"

[[ $(grep -l "frames 18-23" "$work"/out/slurm-*_3.out) ]] || { echo "task 3 did not render 18-23"; exit 1; }
count=0
for frame in "$work"/single/frame_*.png; do
  cmp "$frame" "$work/out/$(basename "$frame")"
  count=$((count + 1))
done
[[ $count -eq 24 && $(ls "$work"/out/frame_*.png | wc -l) -eq 24 ]] ||
  { echo "expected 24 frames, have $count"; exit 1; }

# A job whose tasks fail (a font that does not exist) fails.
if timeout 120 "$root/scripts/slurm-render.sh" --frames 4 --chunk 2 --lumet "$lumet" --wait \
  --output="$work/out/fail-%A_%a.out" -- --text Lumet --font "$work/no-such-font.ttf" -q \
  -o "$work/out/fail_%04d.png" >/dev/null; then
  echo "a job with failing tasks succeeded"
  exit 1
fi
echo "24 frames equal; the failing job failed"
