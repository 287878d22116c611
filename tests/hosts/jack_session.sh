#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Sourced by the jalv tests: a JACK server of their own with the dummy
# backend, so that nothing else on the machine is touched, and jalv under it
# with its console on descriptor 3 (a FIFO that stays open). Both are stopped
# and the files removed on exit.

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; [ -f "$work/jalv.log" ] && sed 's/^/  jalv: /' "$work/jalv.log" >&2; exit 1; }
stat_of() { sox "$1" -n stat 2>&1 | awk -F: -v k="$2" '$1 ~ k {gsub(/ /, "", $2); print $2}'; }
# The spectrum's peak, not sox's count of zero crossings: on a busy machine
# JACK may drop a period, and the phase jump that leaves fools the count.
peak_freq() { sox "$1" -n stat -freq 2>&1 | awk 'NF == 2 && $1 + 0 == $1 && $2 > peak {peak = $2; f = $1} END {print f}'; }
# record NAME SECONDS PORT: PORT's output into $work/NAME.wav.
record() { jack_rec -f "$work/$1.wav" -d "$2" -b 24 "$3" >/dev/null 2>&1 || fail "jack_rec failed"; }

cleanup() {
  exec 3>&- 2>/dev/null
  for pid in $jalv_pid $jackd_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}

# jack_start SERVER TOOL...: skips unless every TOOL is installed, then starts
# the server SERVER (48 kHz, 256-sample periods); skips if it does not start.
jack_start() {
  local server=$1 tool up=''
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
  work=$(mktemp -d)
  jackd_pid='' jalv_pid=''
  trap cleanup EXIT
  export JACK_DEFAULT_SERVER="$server" JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
  jackd --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
  jackd_pid=$!
  for _ in $(seq 150); do
    jack_lsp >/dev/null 2>&1 && { up=1; break; }
    kill -0 "$jackd_pid" 2>/dev/null || break
    sleep 0.2
  done
  [ -n "$up" ] || skip "JACK (dummy backend) did not start here: $(tail -3 "$work/jackd.log" | tr '\n' ' ')"
}

# jalv_start NAME JALV_ARG...: jalv as client NAME, until its ports NAME:in
# and NAME:out are up.
jalv_start() {
  local name=$1 ports=''
  shift
  mkfifo "$work/console"
  jalv -n "$name" "$@" <"$work/console" >"$work/jalv.log" 2>&1 &
  jalv_pid=$!
  exec 3>"$work/console"
  for _ in $(seq 150); do
    ports=$(jack_lsp 2>/dev/null | grep "^$name:" | sort | tr '\n' ' ')
    [ "$ports" = "$name:in $name:out " ] && break
    kill -0 "$jalv_pid" 2>/dev/null || fail "jalv exited at start"
    sleep 0.2
  done
  [ "$ports" = "$name:in $name:out " ] || fail "jalv's ports did not appear (saw: $ports)"
}

# record_silence PORT: jalv takes a console command when it gets to it, later
# on a busy machine: waits until a second recorded from PORT is silent, then
# records two more into $work/off.wav.
record_silence() {
  for _ in $(seq 30); do
    record settle 1 "$1"
    [ "$(stat_of "$work/settle.wav" "Maximum amplitude")" = "0.000000" ] && break
  done
  record off 2 "$1"
}

# jalv_finish: closes the console, so jalv quits on its own; fails if its log
# reports a problem.
jalv_finish() {
  exec 3>&-
  for _ in $(seq 25); do kill -0 "$jalv_pid" 2>/dev/null || break; sleep 0.2; done
  if grep -Eiq 'error|fail|warning|xrun' "$work/jalv.log"; then
    fail "jalv reported problems"
  fi
}
