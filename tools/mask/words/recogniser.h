// SPDX-License-Identifier: ISC
// A speech recogniser as zendrik-mask sees one: 16 kHz mono speech in, the
// listed words it heard out, with their times. One instance per thread; each
// call is one stretch of audio, decoded on its own, so that what is found in a
// stretch never depends on the stretches decoded before it.
#ifndef ZENDRIK_MASK_RECOGNISER_H
#define ZENDRIK_MASK_RECOGNISER_H

#include "timed_words.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zendrik_mask {

constexpr int RECOGNISER_RATE = 16000;

class Recogniser {
public:
    virtual ~Recogniser() = default;
    // The keyphrases found in `count` samples, times in seconds from the
    // first sample; each word's text is the keyphrase it matched, its words
    // as the dictionary spells them, one space apart.
    virtual std::vector<TimedWord> listen(const int16_t* samples, std::size_t count) = 0;
};

// A keyphrase to spot, as the dictionary spells it, with its detection
// threshold (a probability: smaller finds more, and more false alarms).
struct Keyphrase {
    std::string text; // dictionary words joined by one space
    double threshold;
};

// A word and one way to say it, in the model's phones ("D AE SH W UH D").
struct Pronunciation {
    std::string word;
    std::string phones;
};

struct KeywordSpotting {
    std::string model_dir; // the acoustic model
    std::vector<Pronunciation> pronunciations;
    std::vector<Keyphrase> keyphrases;
};

// CMU PocketSphinx in keyword-spotting mode. Throws the bad-input Error when
// the model cannot be loaded or a pronunciation uses phones it lacks.
std::unique_ptr<Recogniser> make_pocketsphinx(const KeywordSpotting& setup);

} // namespace zendrik_mask

#endif
