// SPDX-License-Identifier: ISC
// The records of an output folder merged: what was masked, what failed and
// why, how much audio, which words, at what cost. Also the audit trail: the
// records say by which settings each file was masked.
#ifndef ZENDRIK_MASK_SUMMARY_H
#define ZENDRIK_MASK_SUMMARY_H

#include "record.h"

#include <map>
#include <string>
#include <vector>

namespace zendrik_mask {

struct BatchSummary {
    int done = 0;
    int skipped = 0; // of the done, those a later run found done and skipped
    std::vector<FileRecord> failures;
    double audio_seconds = 0;
    std::map<std::string, int> words_found;
    double cpu_seconds = 0;
    double wall_seconds = 0;
    int unreadable = 0; // record files that did not parse
};

// Every record under `out_dir`. Throws the bad-input Error when it is no folder.
BatchSummary summarise(const std::string& out_dir);

std::string summary_text(const BatchSummary& summary);
// One line per word and one per failure under a header: kind, name, value.
std::string summary_csv(const BatchSummary& summary);
std::string summary_json(const BatchSummary& summary);

} // namespace zendrik_mask

#endif
