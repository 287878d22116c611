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

// A transcript without times (`--transcript-format text`, or a name ending
// in .txt): published text, any line breaks.
bool is_plain_text(const Options& options);

// Its words with their lines. Throws the bad-input Error for a file that
// cannot be read, is not UTF-8 or holds no words.
std::vector<TextWord> read_plain_text(const std::string& path);

// The text's words placed on the sound by what the recogniser `heard` (see
// text_anchors.h) and matched: the passages between anchors that hold a
// find become cues to align.
TranscriptFinds place_plain_text(const std::vector<TextWord>& text, const std::vector<WordPattern>& patterns,
                                 const std::vector<TimedWord>& heard, double seconds);

} // namespace zendrik_mask

#endif
