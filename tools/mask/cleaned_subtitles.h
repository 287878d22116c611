// SPDX-License-Identifier: ISC
// The subtitles cleaned: the words found written over in a video's text
// subtitle streams, and --write-subtitles, the text --transcript or
// --subtitles read written again in its own format with the same masks.
#ifndef ZENDRIK_MASK_CLEANED_SUBTITLES_H
#define ZENDRIK_MASK_CLEANED_SUBTITLES_H

#include "media_job.h"
#include "options.h"
#include "review.h"
#include "subtitle_masking.h"

#include <string>

namespace zendrik_mask {

// Throws the bad-input Error, before any work, for a bad --subtitle-mask
// and a --write-subtitles with no subtitles to clean: neither --subtitles
// nor a --transcript in SRT or WebVTT.
void check_subtitle_options(const Options& options);

// The edits that mask the words found in a cue; unset when nothing was
// found, so that every packet is copied as it is.
SubtitleEdits subtitle_edits(const SubtitleMasker& masker);

// The --write-subtitles file's text.
std::string cleaned_subtitles_text(const Review& review);

} // namespace zendrik_mask

#endif
