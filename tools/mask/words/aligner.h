// SPDX-License-Identifier: ISC
// Known text placed in the sound: the recogniser held to a cue's own words,
// each word given its own times. One instance per thread.
#ifndef ZENDRIK_MASK_ALIGNER_H
#define ZENDRIK_MASK_ALIGNER_H

#include "pronunciations.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

// A word of the text where the sound has it, seconds from the first sample.
// `fit` is how much better, per frame, the word's own phones explain its
// frames than free phones do: near 0 or above for a word that was said,
// well below for one forced onto other speech, music or noise.
struct AlignedWord {
    std::size_t index; // in the text given
    double start, end;
    double fit;
};

// Below this fit a word was not said where the alignment put it, unless
// the words beside it fit well (their mean fit 0 or more) and it stays
// above LEAST_FIT_AMID_FITTING: a short word said fast lends frames to its
// neighbours. Measured on LibriVox readings and on the benchmark's tuning
// part: words that were said fit from -15 up (most above -4), words swapped
// for others -16 and below, with neighbours that fit worse still.
constexpr double LEAST_ALIGNED_FIT = -8.0;
constexpr double LEAST_FIT_AMID_FITTING = -15.0;

// A slot of the text for speech it does not spell out: a censored caption's
// "[ __ ]" or "f***", where any word of up to six phones was said.
constexpr const char* UNSPOKEN_SLOT = "";

class Aligner {
public:
    virtual ~Aligner() = default;
    // Each word of `words` (dictionary spellings, or UNSPOKEN_SLOT) placed in
    // `count` samples at 16 kHz, in order, with speech the text leaves out
    // allowed before and after it; nothing when the text cannot be fitted to
    // the sound at all. A word without a pronunciation (see AlignerSetup) is
    // a slot of its own.
    virtual std::optional<std::vector<AlignedWord>> align(const int16_t* samples, std::size_t count,
                                                          const std::vector<std::string>& words)
        = 0;
};

// The words the texts hold, and nothing else: a dictionary of the whole
// language would take more memory than the model, once per thread.
struct AlignerSetup {
    std::string model_dir;
    std::vector<Pronunciation> pronunciations;
    std::string adaptation; // an MLLR transform, checked (adaptation.h); empty: none
};

// PocketSphinx with a JSGF grammar made of the text. Throws the bad-input
// Error when the model cannot be loaded or a pronunciation uses phones it
// does not have.
std::unique_ptr<Aligner> make_pocketsphinx_aligner(const AlignerSetup& setup);

} // namespace zendrik_mask

#endif
