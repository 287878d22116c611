#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The bundle's Turtle validates against the installed LV2 schemas with no
# errors and no warnings.
#   validate.sh BUNDLE_DIR
set -euo pipefail
report=$(lv2_validate "$1"/*.ttl 2>&1) || { echo "$report"; exit 1; }
echo "$report"
# lv2_validate itself notes a schema file that Debian does not ship; anything
# else it prints is about our files.
if grep -v -e '^Skipping file ' -e '^Found 0 errors' <<<"$report" | grep -q .; then
  echo "FAIL: lv2_validate printed more than a clean summary" >&2
  exit 1
fi
grep -q '^Found 0 errors' <<<"$report"
