// SPDX-License-Identifier: ISC
// Subtitle cues placed word by word in the sound: each cue's text aligned to
// the audio between its start and end, widened on both sides since subtitle
// timing is loose, the audio read once from start to end.
#ifndef ZENDRIK_MASK_CUE_ALIGNMENT_H
#define ZENDRIK_MASK_CUE_ALIGNMENT_H

#include "aligner.h"
#include "audio_file.h"
#include "cue_text.h"
#include "timed_words.h"

#include <vector>

namespace zendrik_mask {

// Seconds of sound added before and after each cue.
constexpr double CUE_WIDENING_SECONDS = 1.0;
// Longer cues are left as they are: their text is rarely what is said word
// for word, and their sound would be held whole.
constexpr double LONGEST_ALIGNED_CUE_SECONDS = 60.0;

struct AlignedCue {
    bool fitted = false; // the text could be fitted to the sound at all
    // Each word of the text that is a word (punctuation, descriptions of
    // sounds in brackets and speakers' names before a colon left out), as
    // written, with the times the alignment gave it; `fits[i]` is words[i]'s
    // (see AlignedWord) and `censored[i]` whether it is a censored one.
    std::vector<TimedWord> words;
    std::vector<double> fits;
    std::vector<bool> censored;
};

// One for each cue, in the order given, each aligned by whichever of
// `aligners` (one a thread) is free. Reads `input` to its end; only the
// sound of the cues being aligned is held. Throws the bad-input Error when
// the input cannot be read whole, and what an aligner threw.
std::vector<AlignedCue> align_cues(InputFile& input, const std::vector<CueText>& cues,
                                   const std::vector<Aligner*>& aligners);

} // namespace zendrik_mask

#endif
