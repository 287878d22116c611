#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# zendrik-mask batch on a real Slurm: a one-node cluster of this machine
# (munged, slurmctld, slurmd in a temporary folder) runs the shipped job-array
# script over 40 small files, 2 of them damaged; then an array cancelled
# part-way and submitted again must leave every file done once.
#   slurm_test.sh ZENDRIK_MASK LV2_DIR SLURM_ARRAY_SCRIPT CHECK_SCRIPT
# Exits 77 (skipped) when not root or when Slurm or munge is missing.
set -euo pipefail
exe=$1 lv2_dir=$2 array_script=$3 check=$4

skip() {
  echo "skipped: $1"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "starting Slurm's daemons needs root"
for tool in munged slurmctld slurmd sbatch squeue scancel sox python3; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/test.sh installs slurmctld slurmd slurm-client munge)"
done

tmp=$(mktemp -d /tmp/zendrik-slurm-XXXXXX)
chmod 755 "$tmp"
stop_daemons() {
  local name pid
  for name in slurmd slurmctld munged; do
    [ -s "$tmp/$name.pid" ] || continue
    pid=$(cat "$tmp/$name.pid")
    kill "$pid" 2>/dev/null || true
    # Not our child (munged forks): wait for it by polling.
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  done
}
cleanup() {
  local status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
    tail -n 20 "$tmp"/*.log "$tmp"/logs/* 2>/dev/null || true
  fi
  squeue -h -o %i 2>/dev/null | xargs -r scancel 2>/dev/null || true
  stop_daemons
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# ---- The cluster ----------------------------------------------------------
node=$(hostname -s)
ports=$(python3 -c 'import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))')
read -r ctld_port slurmd_port <<<"$ports"
mkdir -p "$tmp/munge" "$tmp/state" "$tmp/spool" "$tmp/logs"
chmod 700 "$tmp/munge"
head -c 1024 /dev/urandom >"$tmp/munge/munge.key"
chmod 400 "$tmp/munge/munge.key"
munged --force --key-file="$tmp/munge/munge.key" --socket="$tmp/munge/socket" --pid-file="$tmp/munged.pid" \
  --log-file="$tmp/munged.log" --seed-file="$tmp/munge/seed"

export SLURM_CONF="$tmp/slurm.conf"
cat >"$SLURM_CONF" <<CONF
ClusterName=zendrik
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$tmp/munge/socket
CredType=cred/munge
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
KillWait=5
MinJobAge=600
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP OverSubscribe=FORCE:4
CONF
slurmctld -c -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF" -N "$node"
for _ in $(seq 150); do
  sinfo -h -o %t 2>/dev/null | grep -qE '^(idle|mix|alloc)' && break
  sleep 0.2
done
sinfo -h -o %t | grep -qE '^(idle|mix|alloc)' || fail "the node did not come up"

# ---- The files ------------------------------------------------------------
# 40 files of one second at 8000 Hz: WAV, FLAC and AIFF, in folders; two damaged.
make_tree() {
  local root=$1 i
  mkdir -p "$root/a" "$root/b/c"
  for i in $(seq 1 38); do
    case $((i % 3)) in
    0) sox -R -n -r 8000 -c 1 -b 16 "$root/a/call$i.wav" synth 1 whitenoise vol 0.5 ;;
    1) sox -R -n -r 8000 -c 2 -b 16 "$root/b/call$i.flac" synth 1 pinknoise ;;
    2) sox -R -n -r 8000 -c 1 -b 24 "$root/b/c/call$i.aiff" synth 1 brownnoise ;;
    esac
  done
  printf 'RIFF\x24\x00\x00\x00WAVEfmt broken' >"$root/a/broken.wav"
  head -c 4000 /dev/zero >"$root/b/empty.flac"
}
array() { # OUT_DIR [ARRAY]: submits the shipped script as an array, 0-3 unless given; prints the job id
  sbatch --parsable --array="${2:-0-3}" --chdir="$tmp" --output="$tmp/logs/%A_%a.log" \
    --export="ALL,ZENDRIK_MASK=$exe,LV2_PATH=$lv2_dir" "$array_script" "$tmp/in" "$1" --mask 0.25-0.5
}
wait_for() { # JOB_ID
  for _ in $(seq 600); do
    [ -z "$(squeue -h -j "$1" 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  fail "job $1 did not end"
}
make_tree "$tmp/in"

# ---- A whole array --------------------------------------------------------
job=$(array "$tmp/out")
wait_for "$job"
python3 "$check" "$tmp/in" "$tmp/out" 38 2
summary=$("$exe" summary "$tmp/out" --csv)
grep -qx 'done,,38' <<<"$summary" || fail "summary: $summary"
grep -qx 'failed,,2' <<<"$summary" || fail "summary: $summary"
grep -q '^failure,a/broken.wav,' <<<"$summary" || fail "summary: $summary"

# ---- Cancelled part-way, then submitted again ------------------------------
job=$(array "$tmp/out2")
for _ in $(seq 300); do
  [ -n "$(find "$tmp/out2" -name '*.zendrik.json' 2>/dev/null | head -n 1)" ] && break
  sleep 0.05
done
scancel "$job"
wait_for "$job"
find "$tmp/out2" -name '.*.zendrik-mask.*' | grep . && fail "a cancelled task left a temporary file"
# What the cancelled array finished (its record written), as it stands.
outputs_done() {
  local record
  find "$tmp/out2" -name '*.zendrik.json' | sort | while read -r record; do
    [ ! -f "${record%.zendrik.json}" ] || stat -c '%n %i %Y.%y' "${record%.zendrik.json}"
  done
}
before=$(outputs_done)
job=$(array "$tmp/out2")
wait_for "$job"
python3 "$check" "$tmp/in" "$tmp/out2" 38 2
after=$(outputs_done)
# Every output finished before is untouched: nothing was done twice.
missing=$(comm -23 <(echo "$before") <(echo "$after"))
[ -z "$missing" ] || fail "done again after the cancel: $missing"
echo "done before the cancel: $(echo "$before" | grep -c . || true) of 38"

# ---- Arrays that are not 0..N-1 ---------------------------------------------
# A stepped array: tasks 0, 2, 4 and 6 take the four shares.
job=$(array "$tmp/out3" 0-6:2)
wait_for "$job"
python3 "$check" "$tmp/in" "$tmp/out3" 38 2
# A list, as when failed tasks are submitted again, cannot tell its shares:
# each task refuses, saying how to give them, and writes nothing.
job=$(array "$tmp/out4" 1,3)
wait_for "$job"
[ ! -e "$tmp/out4" ] || fail "a task of --array=1,3 wrote in $tmp/out4"
grep -q 'give --shard K/N' "$tmp/logs/${job}_3.log" || fail "--array=1,3: $(cat "$tmp/logs/${job}_3.log")"
# Given the first array's count, tasks 1 and 3 take shares 1 and 3 of 4.
job=$(SHARDS=4 array "$tmp/out4" 1,3)
wait_for "$job"
for share in 1 3; do
  "$exe" batch "$tmp/in" "$tmp/out4" --mask 0.25-0.5 --shard $share/4 2>&1 | grep -q '^zendrik-mask: 0 masked' \
    || fail "share $share/4 was not done by task $share"
done
