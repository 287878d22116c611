#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${ZENDRIK_BUILD_PACKAGES[@]}" "${ZENDRIK_HOST_PACKAGES[@]}" "${ZENDRIK_HARDENING_PACKAGES[@]}"
cd "$ZENDRIK_ROOT"
# The development build and every test, valgrind memcheck, the system-call
# probe and jalv under JACK included.
cmake --workflow --preset default
# The module as it builds where glibc's vector sine is missing.
cmake --workflow --preset portable
# The whole suite again under AddressSanitizer with UndefinedBehaviorSanitizer,
# then under ThreadSanitizer (the 16-instance stress test among it).
cmake --workflow --preset asan
cmake --workflow --preset tsan
# A minute of fuzzing for each fuzz target, from the committed seeds.
cmake --workflow --preset fuzz
