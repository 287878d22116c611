// SPDX-License-Identifier: ISC
// zendrik-mask's path for video and the containers libsndfile cannot read:
// every stream but the masked audio copied packet for packet, with the
// chapters, metadata and dispositions; the masked audio decoded, toned and
// encoded again (stream_mask). The output is read back before it may
// replace the target.
#ifndef ZENDRIK_MASK_MEDIA_MASK_H
#define ZENDRIK_MASK_MEDIA_MASK_H

#include "copy_path.h"
#include "media_input.h"
#include "output_choice.h"
#include "ranges.h"
#include "subtitle_clean.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zendrik_mask {

class TempFile;

// An audio stream to mask: its index, its plan (samples from the input's
// 0 at its rate), the tone for it and the channels it goes to.
struct MaskedStream {
    int index;
    Plan plan;
    ToneSource tone;
    std::vector<bool> channels;
};

struct MediaTotals {
    int64_t frames = 0;  // of the first masked stream
    int64_t masked = 0;  // of those, frames with the tone on
    std::string warning; // of holes filled with silence
};

// Writes `input` masked into `temp`, as `output` says (`output_name` for
// messages). Throws the bad-input Error for an input cut short or
// undecodable, write_failed for an output that cannot be written or does
// not read back whole. Text subtitle packets are cleaned with `cue_edits`
// when it is set; bitmap subtitles are then named in the warning.
MediaTotals mask_media(MediaInput& input, std::vector<MaskedStream> streams, int64_t block, TempFile& temp,
                       const MediaOutput& output, const std::string& output_name, bool show_progress,
                       const CueEdits& cue_edits);

} // namespace zendrik_mask

#endif
