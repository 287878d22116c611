// SPDX-License-Identifier: ISC
// A published transcript without times placed on its recording: anchored on
// runs of words the recogniser heard as the text has them, the passages
// between anchors left for the aligner. Pure code: words in, words out.
#ifndef ZENDRIK_MASK_TEXT_ANCHORS_H
#define ZENDRIK_MASK_TEXT_ANCHORS_H

#include "timed_words.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zendrik_mask {

// Words the recogniser must hear in a row, as the text has them, to anchor
// the text there.
constexpr std::size_t ANCHOR_WORDS = 3;

struct TextWord {
    std::string written; // as the text has it
    std::string origin;  // "episode.txt:12"
};

// The text's words in order, each timed: a word of an anchor with the times
// it was heard at; the others, a passage between two anchors, share the
// passage's times (from the end of the anchor before to the start of the
// one after, or the recording's edges) as a subtitle cue's words do, for the
// aligner to place. `heard` is in order of time; `seconds` the recording's
// length.
std::vector<TimedWord> anchor_text(const std::vector<TextWord>& text, const std::vector<TimedWord>& heard,
                                   double seconds);

} // namespace zendrik_mask

#endif
