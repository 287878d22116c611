// SPDX-License-Identifier: ISC
// From a word list to what the recogniser spots: each word looked up in CMU
// pronouncing dictionaries, words ending in '*' spelled out as every
// dictionary word they match, and each keyphrase given its threshold.
#ifndef ZENDRIK_MASK_PRONUNCIATIONS_H
#define ZENDRIK_MASK_PRONUNCIATIONS_H

#include "recogniser.h"
#include "word_list.h"

#include <cstddef>
#include <istream>
#include <map>
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

struct SpottingPlan {
    std::vector<Pronunciation> pronunciations;
    std::vector<Keyphrase> keyphrases;
    // The patterns each phrase was made for, by the phrase as the recogniser
    // reports it: its words without their variant marks ("word(2)").
    std::map<std::string, std::set<std::size_t>> patterns_of;
};

// The most dictionary words one pattern ending in '*' may stand for.
constexpr std::size_t MAX_WILDCARD_WORDS = 200;

// Sensitivity 0 to 1 as a keyphrase threshold: 10^(phones x (2 - 5 x
// sensitivity)). Per phone, so that long words and short ones are held to
// the same standard. On LibriVox readings, 0.5 found 14 spoken words of 14
// and 2 false alarms for 12 words not spoken; 0 found 11 and none; 1 found
// all and 13 false alarms.
double keyphrase_threshold(std::size_t phones, double sensitivity);

// Earlier dictionaries win: a word found in one is not looked up in the
// next. Throws the bad-input Error naming every word no dictionary has, a
// malformed line, or a '*' matching nothing or too much.
SpottingPlan plan_spotting(const std::vector<WordPattern>& patterns, const std::vector<Dictionary>& dictionaries,
                           double sensitivity);

} // namespace zendrik_mask

#endif
