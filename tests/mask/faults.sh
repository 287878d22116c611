#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# zendrik-mask under faults: broken and missing inputs, unreadable and
# unwritable paths, a full disk, a run killed part-way. Each case checks the
# exit status and the one error line, that no output (and no temporary file)
# is left behind, that an existing target is untouched, and that the input
# files are unchanged.
#   mask_faults.sh ZENDRIK_MASK LV2_DIR
set -uo pipefail
mask=$1
LV2_PATH=$(cd "$2" && pwd) || exit 1
export LV2_PATH
work=$(mktemp -d)
mounted=''
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
logs="$work/logs"
mkdir "$logs"
fail() { echo "FAIL: $*" >&2; exit 1; }
tried=0

sox -q -n -r 48000 -c 2 -b 24 "$work/in.wav" synth 2 sine 440
printf '0.5\t1.0\tcough\n' >"$work/labels.txt"
sums() { sha256sum "$work"/in*.wav "$work"/*.txt "$work"/bad* 2>/dev/null; }

# expect NAME STATUS MESSAGE_REGEX OUTPUT -- COMMAND...
# OUTPUT's folder must look the same afterwards (no target, no temp file,
# or the old target as it was).
expect() {
  local name=$1 want=$2 regex=$3 out=$4
  shift 5
  local dir before after status=0 err
  dir=$(dirname "$out")
  before=$(ls -lA --time-style=+%s.%N "$dir" 2>/dev/null; sha256sum "$out" 2>/dev/null)
  local inputs_before; inputs_before=$(sums)
  "$@" >"$logs/stdout" 2>"$logs/stderr" || status=$?
  err=$(grep -v '^zendrik-mask: warning:' "$logs/stderr")
  after=$(ls -lA --time-style=+%s.%N "$dir" 2>/dev/null; sha256sum "$out" 2>/dev/null)
  [ "$status" -eq "$want" ] || fail "$name: exit status $status, expected $want ($(cat "$logs/stderr"))"
  if [ "$want" -ne 0 ] && [ -n "$regex" ]; then
    [ "$(grep -c . <<<"$err")" -eq 1 ] || fail "$name: expected one error line, got: $err"
    grep -Eq "^zendrik-mask: error: .*$regex" <<<"$err" || fail "$name: message '$err' does not match '$regex'"
  fi
  [ "$before" = "$after" ] || fail "$name: the output folder changed: $(diff <(echo "$before") <(echo "$after"))"
  [ "$inputs_before" = "$(sums)" ] || fail "$name: an input file changed"
  tried=$((tried + 1))
  printf '  %-34s status %3d  %s\n' "$name" "$status" "$(head -1 <<<"$err")"
}

echo "zendrik-mask faults:"
out="$work/out/result.wav"
mkdir -p "$work/out"

# Inputs.
: >"$work/bad-empty.wav"
expect "zero-length input" 2 "cannot read input" "$out" -- "$mask" "$work/bad-empty.wav" "$out" -m 0.5-1
head -c 30 "$work/in.wav" >"$work/bad-header.wav"
expect "input cut inside its header" 2 "cannot read input" "$out" -- "$mask" "$work/bad-header.wav" "$out" -m 0.5-1
head -c 4096 /dev/urandom >"$work/bad-noise.wav"
expect "input of random bytes" 2 "cannot read input" "$out" -- "$mask" "$work/bad-noise.wav" "$out" -m 0.5-1
{ head -c 12 "$work/in.wav"; head -c 500 /dev/urandom; } >"$work/bad-chunks.wav"
expect "RIFF header, corrupt chunks" 2 "cannot read input" "$out" -- "$mask" "$work/bad-chunks.wav" "$out" -m 0.5-1
expect "missing input" 2 "cannot open input.*No such file" "$out" -- "$mask" "$work/none.wav" "$out" -m 0.5-1
expect "input is a folder" 2 "input" "$out" -- "$mask" "$work/out" "$out" -m 0.5-1
printf '0.5\t1.0\tok\n\x00\xff\xfe garbage\n' >"$work/bad-labels.txt"
expect "corrupt label file" 2 "bad-labels.txt:2" "$out" -- "$mask" "$work/in.wav" "$out" -l "$work/bad-labels.txt"
expect "missing label file" 2 "label file" "$out" -- "$mask" "$work/in.wav" "$out" -l "$work/none.txt"

# An input cut inside its samples, or damaged in the middle: frames would go
# missing from the output, so it is refused like any other bad input.
head -c 200000 "$work/in.wav" >"$work/bad-cut.wav"
expect "input cut inside its samples" 2 "(truncated|cannot read input)" "$out" -- "$mask" "$work/bad-cut.wav" "$out" -m 0.5-1
sox "$work/in.wav" "$work/in.flac"
cp "$work/in.flac" "$work/bad-middle.flac"
size=$(stat -c %s "$work/bad-middle.flac")
head -c 2048 /dev/urandom | dd of="$work/bad-middle.flac" bs=1 seek=$((size / 2)) conv=notrunc status=none
expect "FLAC damaged in the middle" 2 "(truncated|cannot read input)" "$out" -- "$mask" "$work/bad-middle.flac" "$out" -m 0.5-1

# Outputs.
expect "output folder missing" 1 "cannot create a file in" "$work/nowhere/out.wav" -- "$mask" "$work/in.wav" "$work/nowhere/out.wav" -m 0.5-1
mkdir -p "$work/out/folder"
expect "output is a folder" 2 "is a folder" "$work/out/folder" -- "$mask" "$work/in.wav" "$work/out/folder" -m 0.5-1
echo "old result" >"$work/out/keep.wav"
(
  ulimit -f 64 # kilobytes: the output (about 576 kB) cannot fit
  expect "file size limit (ulimit -f 64)" 1 "File too large" "$work/out/keep.wav" -- "$mask" "$work/in.wav" "$work/out/keep.wav" -m 0.5-1
  echo "$tried" >"$work/tried"
) || exit 1
tried=$(cat "$work/tried")
if [ "$(id -u)" -eq 0 ] && mkdir -p "$work/small" && mount -t tmpfs -o size=256k tmpfs "$work/small" 2>/dev/null; then
  mounted="$work/small"
  echo "old result" >"$work/small/keep.wav"
  expect "full disk (256 kB tmpfs)" 1 "No space left on device" "$work/small/keep.wav" -- "$mask" "$work/in.wav" "$work/small/keep.wav" -m 0.5-1
  umount "$work/small" && mounted=''
else
  echo "  full disk (tmpfs)                  not tried: cannot mount a tmpfs here (the file size limit stands in)"
fi

# Permissions: as root, the unprivileged cases run as nobody.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
if [ "$(id -u)" -ne 0 ] || "${as_user[@]}" test -x "$mask"; then
  cp "$work/in.wav" "$work/in-locked.wav"
  chmod 000 "$work/in-locked.wav"
  mkdir -p "$work/open" && chmod 777 "$work/open"
  expect "unreadable input" 2 "Permission denied" "$work/open/out.wav" -- "${as_user[@]}" "$mask" "$work/in-locked.wav" "$work/open/out.wav" -m 0.5-1
  mkdir -p "$work/locked" && chmod 555 "$work/locked"
  expect "unwritable output folder" 1 "Permission denied" "$work/locked/out.wav" -- "${as_user[@]}" "$mask" "$work/in.wav" "$work/locked/out.wav" -m 0.5-1
  chmod 644 "$work/in-locked.wav"
else
  echo "  unreadable/unwritable paths         not tried: nobody cannot run $mask from here"
fi

# Killed part-way: one sample per block keeps it busy for long enough.
sox -q -n -r 48000 -c 1 -b 16 "$work/in-long.wav" synth 60 sine 440 vol 0.5
for sig in TERM INT KILL; do
  echo "old result" >"$work/out/keep.wav"
  before=$(sha256sum "$work/out/keep.wav" "$work/in-long.wav")
  "$mask" "$work/in-long.wav" "$work/out/keep.wav" -m 1-59 -b 1 -q 2>"$logs/stderr" &
  pid=$!
  sleep 1
  kill -0 "$pid" 2>/dev/null || fail "killed part-way: the run ended before the signal"
  kill -s "$sig" "$pid"
  status=0
  wait "$pid" || status=$?
  [ "$status" -gt 128 ] || fail "SIG$sig part-way: status $status"
  [ "$before" = "$(sha256sum "$work/out/keep.wav" "$work/in-long.wav")" ] || fail "SIG$sig part-way: target or input changed"
  left=$(find "$work/out" -name '.keep.wav.*' | wc -l)
  if [ "$sig" != KILL ]; then
    [ "$left" -eq 0 ] || fail "SIG$sig part-way: temporary file left behind"
  fi
  tried=$((tried + 1))
  printf '  %-34s status %3d  target untouched, %s temporary file left\n' "SIG$sig part-way" "$status" "$left"
  find "$work/out" -name '.keep.wav.*' -delete
done
echo "$tried faults tried, each with the right status and message, nothing partial written, inputs untouched"
