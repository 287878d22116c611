#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Builds and runs the tests, one CMake workflow preset after another:
#   scripts/test.sh                 every workflow, as CI runs them
#   scripts/test.sh asan tsan       only those
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${ZENDRIK_BUILD_PACKAGES[@]}" "${ZENDRIK_TEST_BUILD_PACKAGES[@]}" "${ZENDRIK_HOST_PACKAGES[@]}" "${ZENDRIK_HARDENING_PACKAGES[@]}" \
  "${ZENDRIK_STYLE_PACKAGES[@]}" "${ZENDRIK_CLUSTER_PACKAGES[@]}"
cd "$ZENDRIK_ROOT"

# default: the development build and every test, valgrind memcheck, the
#   system-call probe, jalv under JACK and the style checks included.
# portable: the module as it builds where glibc's vector sine is missing.
# asan, tsan: the suite under AddressSanitizer with UndefinedBehaviorSanitizer,
#   then under ThreadSanitizer (the 16-instance stress test among it).
# fuzz: a minute of fuzzing for each fuzz target, from the committed seeds.
# Builds use every core unless told otherwise (the presets leave it open).
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default portable asan tsan fuzz)

# skip_reasons LOG: "TEST: REASON" for each test of ctest's LOG that skipped
# itself, from the "skipped: REASON" line such a test prints.
skip_reasons() {
  [ -f "$1" ] || return 0
  awk '/^[0-9]+\/[0-9]+ Testing: / { test = $3 }
       tolower($0) ~ /^skipped: / { print "  " test ": " substr($0, 10) }' "$1"
}

for preset in "${presets[@]}"; do
  tests="$ZENDRIK_ROOT/build/$preset/Testing/Temporary"
  rm -f "$tests/LastTestsFailed.log" "$tests/LastTest.log"
  status=0
  cmake --workflow --preset "$preset" || status=$?
  skipped=$(skip_reasons "$tests/LastTest.log")
  [ -z "$skipped" ] || printf 'zendrik: tests skipped in workflow %s, and why:\n%s\n' "$preset" "$skipped"
  if [ "$status" -ne 0 ]; then
    # The last lines a reader sees are enough to start from.
    if [ -s "$tests/LastTestsFailed.log" ]; then
      failed=$(cut -d: -f2- "$tests/LastTestsFailed.log" | tr '\n' ' ')
      echo "zendrik: workflow $preset failed: its tests ${failed% } (ctest --preset $preset -R NAME --output-on-failure runs one again)" >&2
    else
      echo "zendrik: workflow $preset failed before its tests ran: the configure or build step above" >&2
    fi
    exit "$status"
  fi
done
echo "zendrik: every workflow passed: ${presets[*]}"
