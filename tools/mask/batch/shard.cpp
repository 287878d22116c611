// SPDX-License-Identifier: ISC
#include "shard.h"

#include "errors.h"
#include "fingerprint.h"

#include <cstdlib>

namespace zendrik_mask {

namespace {

std::optional<unsigned> number(const std::string& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::stoul(text));
}

Shard checked(std::optional<unsigned> index, std::optional<unsigned> count, const std::string& what)
{
    if (!index || !count || *count < 1 || *index >= *count) {
        // A missing or bad number, given or read from the environment.
        throw bad_input("--shard " + what + ": give K/N with 0 <= K < N");
    }
    return {*index, *count};
}

std::optional<unsigned> variable(const Environment& environment, const std::string& name)
{
    const std::optional<std::string> value = environment(name);
    return value ? number(*value) : std::nullopt;
}

// A task of an array A-B or A-B:S (A may be any number) is share
// (ID - A) / S of COUNT. Other arrays (a list, as when failed tasks are
// submitted again) say nothing of the shares of the first submission, so
// they are refused rather than guessed at.
Shard slurm_share(const Environment& environment)
{
    const std::optional<unsigned> id = variable(environment, "SLURM_ARRAY_TASK_ID");
    const std::optional<unsigned> first = variable(environment, "SLURM_ARRAY_TASK_MIN");
    const std::optional<unsigned> last = variable(environment, "SLURM_ARRAY_TASK_MAX");
    const unsigned step = variable(environment, "SLURM_ARRAY_TASK_STEP").value_or(1);
    const std::optional<unsigned> count = variable(environment, "SLURM_ARRAY_TASK_COUNT");
    const auto text = [](std::optional<unsigned> value) { return value ? std::to_string(*value) : "?"; };
    if (!id || !first || !last || !count || step < 1 || *last < *first || *id < *first || *id > *last
        || (*last - *first) % step != 0 || (*id - *first) % step != 0 || *count != (*last - *first) / step + 1) {
        throw bad_input("--shard auto takes the share of a task of an array A-B or A-B:S, and this one is not (tasks "
                        + text(first) + " to " + text(last) + ", step " + std::to_string(step) + ", " + text(count)
                        + " tasks): give --shard K/N, K this task's share of the N of the first submission "
                          "(SHARDS=N with slurm_array.sh)");
    }
    return {(*id - *first) / step, *count};
}

} // namespace

Environment process_environment()
{
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
}

Shard parse_shard(const std::string& text, const Environment& environment)
{
    if (text != "auto") {
        const auto slash = text.find('/');
        if (slash == std::string::npos) {
            return checked(std::nullopt, std::nullopt, text);
        }
        return checked(number(text.substr(0, slash)), number(text.substr(slash + 1)), text);
    }
    if (environment("SLURM_ARRAY_TASK_ID")) {
        return slurm_share(environment);
    }
    if (environment("JOB_COMPLETION_INDEX")) {
        return checked(variable(environment, "JOB_COMPLETION_INDEX"), variable(environment, "ZENDRIK_MASK_SHARDS"),
                       "auto (JOB_COMPLETION_INDEX, ZENDRIK_MASK_SHARDS)");
    }
    throw bad_input("--shard auto: neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX is set");
}

bool in_shard(const std::string& relative_path, const Shard& shard)
{
    // FNV's low bits follow the last bytes closely: mixed, names that differ
    // only in a number spread evenly.
    uint64_t hash = fnv1a(relative_path);
    hash = (hash ^ (hash >> 33)) * 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    return hash % shard.count == shard.index;
}

} // namespace zendrik_mask
