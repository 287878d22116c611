// SPDX-License-Identifier: ISC
// From a word list to what the decoder is told: each word looked up in CMU
// pronouncing dictionaries, words ending in '*' spelled out as every
// dictionary word they match, and each word given its boost.
#ifndef ZENDRIK_MASK_PRONUNCIATIONS_H
#define ZENDRIK_MASK_PRONUNCIATIONS_H

#include "recogniser.h"
#include "word_list.h"

#include <cstddef>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zendrik_mask {

// A dictionary in CMU format: one pronunciation a line, "word PH ON ES",
// further ones as "word(2) ..."; ";;;" lines and "#" comments are skipped.
struct Dictionary {
    std::string name; // for messages
    std::istream* text;
};

struct DecodingPlan {
    // Every pronunciation of the listed words, a word once for each, from
    // the dictionaries that have them.
    std::vector<Pronunciation> pronunciations;
    // Each word the list stands for, once (a word ending in '*' stands for
    // every dictionary word it matches), with its boost.
    std::vector<ListedWord> listed;
    // The pronunciations guessed, for words no dictionary has.
    std::vector<Pronunciation> guessed;
};

// The phones of a word no dictionary has, or nothing (see pronunciation_guess.h).
using Guesser = std::function<std::optional<std::string>(const std::string& word)>;

// The most dictionary words one pattern ending in '*' may stand for.
constexpr std::size_t MAX_WILDCARD_WORDS = 200;

// Sensitivity 0 to 1 as the probability added to a listed word's after any
// words: 10^(3 x sensitivity - 5), from 1e-5 (a rare word's) to 0.01 (far
// likelier than most English words).
double listed_word_boost(double sensitivity);

// The lowest posterior probability a find is kept at: 0.4 x (1 - sensitivity).
// Both were calibrated together on recorded speech: a larger boost with a
// firmer threshold finds more words for the same false alarms than either alone.
double least_confidence(double sensitivity);

// The lowest fit (see AlignedWord::fit) a listed word heard by the decoding
// is kept at, aligned alone to its sound: 3 - 22 x sensitivity, the
// aligner's own LEAST_ALIGNED_FIT at the default. Words said fit from about
// -8 up; words the boost invented where other speech, breath or noise was,
// mostly below. A stricter sensitivity asks for a better fit.
double least_fit(double sensitivity);

// Whether a find is sure enough to bleep at `sensitivity`: confident enough,
// where it was checked alone against its sound, fitting it well enough, and
// where the decoding without the boost was asked, heard there by it too.
bool sure_enough(const FoundWord& found, double sensitivity);

// Every pronunciation the dictionaries give each of `words` (folded as the
// list's are), read as plan_decoding reads them; words none has are left
// out. Throws the bad-input Error for a malformed line.
std::map<std::string, std::vector<std::string>> look_up_words(std::set<std::string> words,
                                                              const std::vector<Dictionary>& dictionaries);

// The probability English gives a word alone; 0 for a word it lacks.
using EnglishProbability = std::function<double(const std::string& word)>;

// The words one pattern ending in '*' matches share its boost, each in
// proportion to how common English makes it (a word English lacks counts as
// the rarest it has), so that "damn*" is as likely as one listed word and a
// rare ending such as "damns" is not made hundreds of times likelier than
// English holds it. A word several patterns match takes the largest share
// any gives it; a word also listed as itself counts in its patterns' shares
// but keeps its whole boost.
std::vector<ListedWord> share_pattern_boosts(std::vector<ListedWord> listed, const EnglishProbability& english);

// Earlier dictionaries win: a word found in one is not looked up in the
// next; a word none has is given to `guess`, when there is one. A word listed
// with several sensitivities gets the lowest, as a word held back on purpose
// should be. Throws the bad-input Error naming every word neither a
// dictionary nor `guess` knows, a malformed line, or a '*' matching nothing or
// too much.
DecodingPlan plan_decoding(const std::vector<WordPattern>& patterns, const std::vector<Dictionary>& dictionaries,
                           double sensitivity, const Guesser& guess = {});

} // namespace zendrik_mask

#endif
