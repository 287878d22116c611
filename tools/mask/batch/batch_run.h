// SPDX-License-Identifier: ISC
// A batch run: each file of the list masked by the single-file command's own
// code, several at once, each leaving its record; files whose record still
// matches are skipped, and a failed file does not stop the others.
#ifndef ZENDRIK_MASK_BATCH_RUN_H
#define ZENDRIK_MASK_BATCH_RUN_H

#include "file_list.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zendrik_mask {

// How one file's masking ended, as the single-file command would end it.
struct MaskResult {
    int status = 0;
    std::string message;
    double seconds = -1;
    std::map<std::string, int> words_found;
};

using MaskOne = std::function<MaskResult(const BatchFile&)>;

struct BatchSettings {
    unsigned jobs = 1;          // files masked at once
    bool quiet = false;         // no progress line, no closing line; errors still print
    std::string options_hash;   // of every setting that changes an output
    std::string in_dir;         // no output or record is written in it; empty for a manifest
    int unreadable_folders = 0; // of the tree, told in the closing line
};

struct BatchTotals {
    int done = 0;
    int skipped = 0;       // done by an earlier run
    int failed = 0;        // refusals recorded by an earlier run included
    int failed_before = 0; // of the failed, those refusals: nothing new
    bool stopped = false;  // nothing more could be written: no other file was started
    std::string why_stopped;
    int not_started = 0;
};

// Each folder of the tree that could not be read: its error printed, and a
// record, OUT_DIR/FOLDER.zendrik.json, for summary; the record of a folder
// read whole now is removed.
void record_folders(const FileTree& tree, const std::string& out_dir);

BatchTotals run_batch(const std::vector<BatchFile>& files, const BatchSettings& settings, const MaskOne& mask);

} // namespace zendrik_mask

#endif
