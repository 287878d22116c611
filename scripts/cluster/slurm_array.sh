#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# zendrik-mask batch as a Slurm job array: each array task masks its own
# share of the files. IN_DIR and OUT_DIR must be on storage every node sees.
#   sbatch --array=0-15 scripts/cluster/slurm_array.sh IN_DIR OUT_DIR --mask 1:00-1:05 ...
# Run it again after a failure or a scancel: the files done are skipped.
# --shard auto understands arrays A-B and A-B:S. To run only some tasks again
# (--array=3,7 of a first --array=0-15), give the first array's number of
# tasks, each task ID then being its share:
#   SHARDS=16 sbatch --array=3,7 scripts/cluster/slurm_array.sh IN_DIR OUT_DIR --mask 1:00-1:05 ...
#SBATCH --job-name=zendrik-mask
#SBATCH --cpus-per-task=1
#SBATCH --output=zendrik-mask-%A_%a.log
set -euo pipefail
# --jobs: as many files at once as the task has cores. Not --quiet: the log
# gets a line for each file masked.
shard=auto
if [ -n "${SHARDS:-}" ]; then
  shard="${SLURM_ARRAY_TASK_ID:?not an array task}/$SHARDS"
fi
exec "${ZENDRIK_MASK:-zendrik-mask}" batch "$@" --shard "$shard" --jobs "${SLURM_CPUS_PER_TASK:-1}"
