#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The built module exports lv2_descriptor and nothing else, needs nothing
# beyond the C and maths libraries, and is bound at load time. zendrik live
# ("linked") carries zendrik-mask's word finder and needs what it needs.
#   module_check.sh MODULE [linked]
set -euo pipefail
module=$1
linked=${2:-}
fail() { echo "FAIL: $*" >&2; exit 1; }

exports=$(nm -D --defined-only "$module" | awk '{print $3}')
[ "$exports" = "lv2_descriptor" ] || fail "exported symbols: $(xargs <<<"$exports")"

needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$linked" ] && needed=''
for lib in $needed; do
  case "$lib" in
    libc.so.*|libm.so.*|libmvec.so.*) ;;
    *) fail "needs $lib" ;;
  esac
done
readelf -d "$module" | grep -q 'FLAGS.*\bNOW\b' || fail "not linked with -z now"
readelf -l "$module" | grep -q GNU_RELRO || fail "not linked with -z relro"
# No C++ runtime may sneak in through undefined references either
# (__cxa_finalize is the C library's own).
if [ -z "$linked" ] && nm -D --undefined-only "$module" | grep -v '@GLIBC_' | grep -E '_Z|__cxa|__gxx|_Unwind'; then
  fail "the module refers to the C++ runtime"
fi
echo "exports: $exports; needs: $(xargs <<<"$needed")"
