// SPDX-License-Identifier: ISC
// The steps of a run that differ for video and the containers libsndfile
// cannot read: set up before any long work, then written.
#ifndef ZENDRIK_MASK_MEDIA_JOB_H
#define ZENDRIK_MASK_MEDIA_JOB_H

#include "host.h"
#include "media_input.h"
#include "media_mask.h"
#include "options.h"
#include "ranges.h"
#include "temp_file.h"

#include <memory>
#include <string>
#include <vector>

namespace zendrik_mask {

// The input opened again, its masked streams and a plugin for each.
struct MediaSetup {
    std::unique_ptr<MediaInput> input;
    std::vector<int> streams;
    MediaOutput output;
    std::vector<std::unique_ptr<Lv2Host>> hosts;
};

// Throws the bad-input Error for options that do not apply, a --format the
// output cannot take and streams that cannot be encoded again; adds a warning for each stream re-encoded whole.
MediaSetup set_up_media(const Options& options, std::vector<std::string>& warnings);

// Writes the masked file into `temp`.
MediaTotals write_media(MediaSetup& setup, const Options& options, const std::vector<TimeRange>& ranges, TempFile& temp,
                        bool show_progress);

} // namespace zendrik_mask

#endif
