#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# zendrik-mask batch spread by GNU parallel over the hosts of hosts.txt (one
# SSH login a line, ":" for this machine), one share of the files a job.
# IN_DIR and OUT_DIR must be at the same paths on every host (shared storage).
#   SHARES=64 scripts/cluster/parallel.sh IN_DIR OUT_DIR --mask 1:00-1:05 ...
# Run it again after a failure: --resume-failed starts the shares that did not
# finish (--quote passes the arguments to
# the remote shell as they are), and each of them skips the files already done.
set -euo pipefail
shares="${SHARES:-64}"
seq 0 $((shares - 1)) \
  | parallel --quote --sshloginfile "${HOSTS:-hosts.txt}" --joblog zendrik-mask.joblog --resume-failed \
    "${ZENDRIK_MASK:-zendrik-mask}" batch "$@" --shard "{}/$shares" --quiet
