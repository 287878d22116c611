#!/usr/bin/env bash
# Builds everything and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_packages "${ZENDRIK_BUILD_PACKAGES[@]}" "${ZENDRIK_HOST_PACKAGES[@]}"
cd "$ZENDRIK_ROOT"
cmake --workflow --preset default
