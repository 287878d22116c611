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
for preset in "${presets[@]}"; do
  cmake --workflow --preset "$preset"
done
