// SPDX-License-Identifier: ISC
// One zendrik-mask run: read the input, run the plugin over it, write the
// output through a temporary file.
#ifndef ZENDRIK_MASK_JOB_H
#define ZENDRIK_MASK_JOB_H

#include "options.h"

#include <map>
#include <string>
#include <vector>

namespace zendrik_mask {

// How one file's run ended.
struct FileOutcome {
    int status = 0;                         // the exit status the single-file command ends with
    std::string message;                    // the error, for a status other than 0
    double seconds = -1;                    // the input's length, -1 when not known
    std::map<std::string, int> words_found; // each pattern found, how often
};

// What every run of a process shares, set once before the first: the signal
// handlers that remove temporary files, and FFmpeg's reading of the audio
// streams `streams` names for inputs libsndfile cannot read.
void prepare_runs(const std::vector<std::string>& streams);

// Loads the LV2 world and finds the plugin, as a batch does before its files
// run side by side. Throws the bad-input Error when the plugin is missing.
void load_plugin();

// One file masked; the error is returned, not printed. Safe to call from
// several threads at once after prepare_runs().
FileOutcome mask_file(const Options& options);

// Runs the job and returns the exit status; errors are printed.
int run_job(const Options& options);

} // namespace zendrik_mask

#endif
