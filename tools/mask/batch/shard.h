// SPDX-License-Identifier: ISC
// One share of the files among several machines or tasks: each file goes to
// the share its relative path hashes to, so that every run, on any machine,
// gives it to the same share.
#ifndef ZENDRIK_MASK_SHARD_H
#define ZENDRIK_MASK_SHARD_H

#include <functional>
#include <optional>
#include <string>

namespace zendrik_mask {

struct Shard {
    unsigned index = 0; // 0 to count - 1
    unsigned count = 1;
};

// The environment, by variable name; std::getenv outside the tests.
using Environment = std::function<std::optional<std::string>(const std::string&)>;
Environment process_environment();

// "K/N", or "auto": the task of a Slurm job array A-B or A-B:S (its place
// among SLURM_ARRAY_TASK_MIN, _MAX, _STEP, of SLURM_ARRAY_TASK_COUNT), else a
// Kubernetes Indexed Job's (JOB_COMPLETION_INDEX, of ZENDRIK_MASK_SHARDS).
// Throws the bad-input Error for anything else, other arrays included.
Shard parse_shard(const std::string& text, const Environment& environment);

bool in_shard(const std::string& relative_path, const Shard& shard);

} // namespace zendrik_mask

#endif
