// SPDX-License-Identifier: ISC
// A speech recogniser as zendrik-mask sees one: 16 kHz mono speech in, the
// words it heard out, with their times. One instance per thread; each
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
    // Every word heard in `count` samples, times in seconds from the first
    // sample, as the dictionary spells it (without its variant mark), with
    // its posterior probability as the confidence. Silence and noise are
    // left out.
    virtual std::vector<TimedWord> listen(const int16_t* samples, std::size_t count) = 0;
};

// A word and one way to say it, in the model's phones ("D AE SH W UH D").
struct Pronunciation {
    std::string word;
    std::string phones;
};

// A word from the list, and how much more likely than the language model
// holds it the decoder should find it: a probability added to the model's
// for that word after any words (see listed_word_boost).
struct ListedWord {
    std::string word;
    double boost;
    // The patterns ending in '*' that matched the word ("damn*"); each
    // pattern's words share one boost (see share_pattern_boosts).
    std::vector<std::string> patterns = {};
    // Listed as itself, so it keeps its whole boost.
    bool named = true;
    // Listed at a lower sensitivity than the run's (a slur, a mostly
    // innocent word): English alone must agree on it whatever its length.
    bool held_back = false;
};

// Decoding with a language model: every word of the model's general English
// is heard, the listed words made a little more likely, so that a word is
// found because the sentence around it makes sense.
struct Decoding {
    std::string model_dir;                     // the acoustic model
    std::string dictionary;                    // the model's pronouncing dictionary
    std::string language_model;                // the model's n-gram language model
    std::vector<Pronunciation> pronunciations; // added where the dictionary lacks them
    std::vector<ListedWord> listed;
    std::string adaptation; // an MLLR transform, checked (adaptation.h); empty: none
};

// CMU PocketSphinx decoding with its n-gram search. Throws the bad-input
// Error when the model, dictionary or language model cannot be loaded or a
// pronunciation uses phones the model lacks.
std::unique_ptr<Recogniser> make_pocketsphinx(const Decoding& setup);

} // namespace zendrik_mask

#endif
