// SPDX-License-Identifier: ISC
// The texts that give word times: a transcript file, or the input's own
// subtitle stream, each read as a stream and matched as it is read.
#ifndef ZENDRIK_MASK_WORD_SOURCES_H
#define ZENDRIK_MASK_WORD_SOURCES_H

#include "options.h"
#include "word_list.h"
#include "word_search.h"

#include <vector>

namespace zendrik_mask {

// --transcript. Throws the bad-input Error for an unreadable or malformed
// transcript, and for a video or audio file given as one.
TranscriptFinds read_transcript_file(const Options& options, const std::vector<WordPattern>& patterns);

// --subtitles: the cues of the input's text subtitle stream, each word
// given its cue's times.
TranscriptFinds read_subtitle_words(const Options& options, const std::vector<WordPattern>& patterns);

} // namespace zendrik_mask

#endif
