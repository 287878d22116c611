// SPDX-License-Identifier: ISC
// Finds the listed words in a whole audio file: mixed to mono, resampled for
// the recogniser, cut into overlapping stretches, and the stretches decoded
// on several threads at once.
#ifndef ZENDRIK_MASK_SPEECH_SEARCH_H
#define ZENDRIK_MASK_SPEECH_SEARCH_H

#include "audio_file.h"
#include "recogniser.h"

#include <functional>
#include <memory>
#include <vector>

namespace zendrik_mask {

// The stretches: one starts every HOP seconds and runs OVERLAP seconds into
// the next, so that a word up to OVERLAP long lies whole in one of them. A
// word belongs to the stretch its start falls in, however many jobs run, so
// that the words found never depend on the number of jobs.
constexpr double STRETCH_HOP_SECONDS = 15.0;
constexpr double STRETCH_OVERLAP_SECONDS = 3.0;

struct SpeechSearch {
    unsigned jobs = 1;
    std::function<std::unique_ptr<Recogniser>()> make_recogniser;
    bool show_progress = false;
};

// Every word heard, in order of time, except those heard where nobody
// speaks (see SpeechPresence); a word heard twice where two stretches
// overlap counts once. Reads `input` to its end; throws the
// bad-input Error when it cannot be read whole.
std::vector<TimedWord> search_speech(InputFile& input, const SpeechSearch& search);

} // namespace zendrik_mask

#endif
