// SPDX-License-Identifier: ISC
// What a batch writes for review, per file: --write-labels, --report,
// --write-edl and --review, each a name pattern beside the output
// ("{name}.html": {name} is the output's name without its extension) or a
// folder mirroring the output tree; and OUT_DIR/index.html, which lists
// every file of the run with its counts and its page.
#ifndef ZENDRIK_MASK_BATCH_REVIEWS_H
#define ZENDRIK_MASK_BATCH_REVIEWS_H

#include "batch_run.h"
#include "file_list.h"
#include "options.h"

#include <mutex>
#include <string>
#include <vector>

namespace zendrik_mask {

// `options` with each per-file path set for `file`, its folder made.
// Throws write_failed when a folder cannot be made.
Options review_files_for(const Options& shared, const BatchFile& file, const std::string& out_dir);

class ReviewIndex {
public:
    // Safe from the batch's threads.
    void add(const BatchFile& file, const Options& options, const MaskResult& result);
    // Writes OUT_DIR/index.html through a temporary file; throws write_failed.
    void write(const std::string& out_dir);

private:
    struct Entry {
        std::string name, page;
        int status;
        std::string message;
        int found;
    };
    std::mutex lock_;
    std::vector<Entry> entries_;
};

} // namespace zendrik_mask

#endif
