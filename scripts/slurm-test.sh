#!/usr/bin/env bash
# The README's Slurm job array on a real single-node Slurm cluster (Debian's slurm-wlm and
# munge): starts the daemons in a scratch folder, submits examples/slurm/trace-array.sh as
# two tasks over 8 folders, waits, checks that every folder's new.tif is a plain run's and
# that each task's exit code is the highest of its folders' statuses, and stops every
# daemon it started, also when a check fails.
#   scripts/slurm-test.sh [BUILD_DIR]     (default: build; needs bin/ringtrace, bin/make_ring)
# Nothing under /etc changes: configuration, state, spool, sockets, pid and log files
# live in the scratch folder named by SLURM_CONF, on ports of their own. Skips, saying so,
# where the packages cannot be installed or the daemons cannot be run (no root).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)

skip() {
  echo "SKIP: the Slurm job array was not tried: $*"
  exit 0
}
fail() {
  echo "FAIL: Slurm job array: $*" >&2
  exit 1
}

if [ "$(id -u)" -ne 0 ]; then
  sudo -n true 2>/dev/null || skip "the daemons need root, and sudo asks for a password"
  exec sudo -n -E bash "$0" "$build"
fi
bash "$repo/scripts/deps.sh" slurm-wlm munge || skip "slurm-wlm and munge cannot be installed"
for tool in munged slurmctld slurmd sbatch squeue scontrol sinfo runuser; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
for program in ringtrace make_ring; do
  [ -x "$build/bin/$program" ] || fail "$build/bin/$program is not built"
done

span() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
t0=$(date +%s.%N)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ringtrace-slurm-XXXXXX")
chmod 755 "$scratch"
export SLURM_CONF=$scratch/slurm.conf
ctld_pid="" slurmd_pid="" munge_socket=$scratch/munge/munge.socket

cleanup() {
  local status=$? t1
  t1=$(date +%s.%N)
  if [ -n "$ctld_pid" ] || [ -n "$slurmd_pid" ]; then
    timeout 10 scontrol shutdown >/dev/null 2>&1 || true
    for pid in $ctld_pid $slurmd_pid; do
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null || true
    done
  fi
  [ -S "$munge_socket" ] && runuser -u munge -- munged --stop --socket="$munge_socket" >/dev/null 2>&1
  if [ "$status" -ne 0 ]; then
    for log in "$scratch"/*.log "$scratch"/work/slurm-*.out; do
      [ -f "$log" ] && { echo "--- $log"; tail -n 30 "$log"; } >&2
    done
  else
    echo "Slurm daemons stopped in $(span "$t1" "$(date +%s.%N)") s"
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# munge, as its own user, on a socket of its own (the key is Debian's, copied).
mkdir -p "$scratch/munge"
if [ -f /etc/munge/munge.key ]; then
  cp /etc/munge/munge.key "$scratch/munge/munge.key"
else
  dd if=/dev/urandom of="$scratch/munge/munge.key" bs=1024 count=1 status=none
fi
chown -R munge:munge "$scratch/munge"
chmod 0755 "$scratch/munge"
chmod 0400 "$scratch/munge/munge.key"
runuser -u munge -- /usr/sbin/munged --socket="$munge_socket" --key-file="$scratch/munge/munge.key" \
  --pid-file="$scratch/munge/munged.pid" --log-file="$scratch/munge/munged.log" \
  --seed-file="$scratch/munge/munged.seed" || fail "munged did not start"

# Two free ports for the controller and the node daemon.
read -r ctld_port slurmd_port < <(/usr/bin/python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')
cpus=$(nproc)
[ "$cpus" -gt 2 ] && cpus=2
memory=$(($(awk '/MemTotal/ { print $2 }' /proc/meminfo) / 1024 / 2))
mkdir -p "$scratch/state" "$scratch/spool"
: >"$scratch/plugstack.conf"
# slurmd always loads a cgroup plugin; cgroup/v1 does nothing on a machine without systemd.
echo "CgroupPlugin=cgroup/v1" >"$scratch/cgroup.conf"
cat >"$SLURM_CONF" <<EOF
ClusterName=ringtrace-ci
SlurmctldHost=localhost
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$munge_socket
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
PlugStackConfig=$scratch/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
MpiDefault=none
SwitchType=switch/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
ReturnToService=2
MinJobAge=600
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=ci Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF

slurmctld -D -i >>"$scratch/slurmctld.log" 2>&1 &
ctld_pid=$!
slurmd -D -N localhost >>"$scratch/slurmd.log" 2>&1 &
slurmd_pid=$!

wait_for() {  # wait_for SECONDS DESCRIPTION COMMAND...
  local seconds=$1 what=$2
  shift 2
  for _ in $(seq $((seconds * 10))); do
    "$@" >/dev/null 2>&1 && return 0
    kill -0 "$ctld_pid" 2>/dev/null || fail "slurmctld ended while waiting for $what"
    kill -0 "$slurmd_pid" 2>/dev/null || fail "slurmd ended while waiting for $what"
    sleep 0.1
  done
  fail "no $what after $seconds s"
}
node_idle() { [ "$(sinfo -h -n localhost -o %T)" = idle ]; }
wait_for 30 "answer from slurmctld" scontrol ping
wait_for 30 "idle node" node_idle
t_up=$(date +%s.%N)

# The study: 8 folders, the sixth with an unreadable secondary image (status 1), and the
# same folders traced by plain runs for comparison.
work=$scratch/work
mkdir -p "$work/study" "$work/plain"
for i in 1 2 3 4 5 6 7 8; do
  drift=()
  [ $((i % 3)) -eq 0 ] && drift=(--drift 6)
  "$build/bin/make_ring" --width $((120 + 20 * i)) --height 100 --seed "$i" "${drift[@]}" \
    --out "$work/study/f$i" >/dev/null
done
echo "not a tiff" >"$work/study/f6/outx1.tif"
cp -r "$work/study/." "$work/plain/"
for i in 1 2 3 4 5 6 7 8; do
  (cd "$work/plain/f$i" && "$build/bin/ringtrace" >/dev/null 2>&1) || true
done

# PER_TASK reaches the tasks through sbatch's default --export=ALL: any other --export makes
# slurmd load root's login environment first (su -), seconds per task.
job=$(cd "$work" && PER_TASK=4 PATH="$build/bin:$PATH" sbatch --parsable --array=0-1 --cpus-per-task=1 \
  --output="$work/slurm-%A_%a.out" "$repo/examples/slurm/trace-array.sh")
job=${job%%;*}
t_submit=$(date +%s.%N)
# sbatch --wait polls slowly; squeue answers at once.
for _ in $(seq 600); do
  [ -z "$(squeue -h -j "$job" -o %i 2>/dev/null)" ] && break
  sleep 0.1
done
[ -z "$(squeue -h -j "$job" -o %i)" ] || fail "job $job still queued or running after 60 s"
t_done=$(date +%s.%N)

# Each task's exit code: the highest status of its four folders.
exits=$(scontrol -o show job "$job" | sed -n 's/.*ArrayTaskId=\([0-9]*\) .*ExitCode=\([0-9]*:[0-9]*\).*/\1 \2/p' | sort)
[ "$exits" = $'0 0:0\n1 1:0' ] || fail "task exit codes were '$exits', expected task 0 0:0 and task 1 1:0"
for i in 1 2 3 4 5 6 7 8; do
  cmp -s "$work/study/f$i/new.tif" "$work/plain/f$i/new.tif" ||
    fail "f$i: the array's new.tif differs from the plain run's"
  [ -f "$work/study/f$i/summary.json" ] || fail "f$i: no summary.json"
done
grep -q "study/f6/: error image not read" "$work/slurm-${job}_1.out" ||
  fail "task 1's output lacks f6's result line: $(cat "$work/slurm-${job}_1.out")"
[ "$(grep -c ": traced$" "$work"/slurm-"${job}"_*.out | awk -F: '{ s += $NF } END { print s }')" -eq 7 ] ||
  fail "expected 7 folders traced in the tasks' output"

echo "Slurm job array: cluster up in $(span "$t0" "$t_up") s, 2 tasks over 8 folders in" \
  "$(span "$t_submit" "$t_done") s, every new.tif a plain run's, exit codes 0 and 1"
