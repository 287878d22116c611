// SPDX-License-Identifier: ISC
// What a batch writes for review, per file: --write-labels, --report,
// --write-edl and --review, each a name pattern beside the output
// ("{name}.html": {name} is the output's name without its extension) or a
// folder mirroring the output tree; and OUT_DIR/index.html, which lists
// every file of the batch with its counts and its page.
#ifndef ZENDRIK_MASK_BATCH_REVIEWS_H
#define ZENDRIK_MASK_BATCH_REVIEWS_H

#include "batch_run.h"
#include "file_list.h"
#include "options.h"

#include <string>
#include <vector>

namespace zendrik_mask {

// `options` with each per-file path set for `file`, its folder made.
// Throws write_failed when a folder cannot be made.
Options review_files_for(const Options& shared, const BatchFile& file, const std::string& out_dir);

// OUT_DIR/index.html, written through a temporary file: each of `files`
// with what its record says (those a rerun skipped too) and a link to its
// page when there is one. Throws write_failed.
void write_review_index(const std::vector<BatchFile>& files, const Options& shared, const std::string& out_dir);

} // namespace zendrik_mask

#endif
