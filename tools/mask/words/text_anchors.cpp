// SPDX-License-Identifier: ISC
#include "text_anchors.h"

#include "word_list.h"

#include <algorithm>
#include <unordered_map>

namespace zendrik_mask {

namespace {

// Runs of ANCHOR_WORDS words joined, as keys.
std::string run_at(const std::vector<std::string>& words, std::size_t at)
{
    std::string key;
    for (std::size_t k = 0; k < ANCHOR_WORDS; ++k) {
        key += words[at + k] + '\n';
    }
    return key;
}

// A passage needs this long a word, give or take PASSAGE_SLACK_SECONDS.
constexpr double SHORTEST_WORD_SECONDS = 0.1;
constexpr double PASSAGE_SLACK_SECONDS = 0.5;
// Anchored runs this long never give way to a passage beside them.
constexpr std::size_t TRUSTED_RUN_WORDS = 2 * ANCHOR_WORDS;

struct Candidate {
    std::size_t heard, text;
};

// The longest chain of candidates rising in both heard and text order: a
// run heard out of place (a repeated phrase, a misheard one) cannot pull
// the text out of order.
std::vector<Candidate> rising_chain(const std::vector<Candidate>& candidates)
{
    std::vector<std::size_t> tails;                               // candidate ending the best chain of each length
    std::vector<std::size_t> before(candidates.size(), SIZE_MAX); // the candidate before, in its chain
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        const auto place
            = std::lower_bound(tails.begin(), tails.end(), candidates[c].text,
                               [&](std::size_t tail, std::size_t text) { return candidates[tail].text < text; });
        if (place != tails.begin()) {
            before[c] = *(place - 1);
        }
        if (place == tails.end()) {
            tails.push_back(c);
        } else {
            *place = c;
        }
    }
    std::vector<Candidate> chain;
    for (std::size_t c = tails.empty() ? SIZE_MAX : tails.back(); c != SIZE_MAX; c = before[c]) {
        chain.push_back(candidates[c]);
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

} // namespace

std::vector<TimedWord> anchor_text(const std::vector<TextWord>& text, const std::vector<TimedWord>& heard,
                                   double seconds)
{
    std::vector<std::string> text_words, heard_words;
    for (const TextWord& word : text) {
        text_words.push_back(normalise_word(word.written));
    }
    for (const TimedWord& word : heard) {
        heard_words.push_back(normalise_word(word.text));
    }
    // Runs the text holds once: a run it repeats anchors nothing.
    std::unordered_map<std::string, std::size_t> once;
    for (std::size_t t = 0; t + ANCHOR_WORDS <= text_words.size(); ++t) {
        const auto [it, added] = once.emplace(run_at(text_words, t), t);
        if (!added) {
            it->second = SIZE_MAX;
        }
    }
    std::vector<Candidate> candidates;
    for (std::size_t h = 0; h + ANCHOR_WORDS <= heard_words.size(); ++h) {
        if (const auto found = once.find(run_at(heard_words, h)); found != once.end() && found->second != SIZE_MAX) {
            candidates.push_back({h, found->second});
        }
    }
    // Each text word anchored to the heard word it was, or to none.
    std::vector<std::size_t> anchored(text.size(), SIZE_MAX);
    std::size_t last_heard = 0, last_text = 0;
    bool any = false;
    for (const Candidate& candidate : rising_chain(candidates)) {
        for (std::size_t k = 0; k < ANCHOR_WORDS; ++k) {
            const std::size_t h = candidate.heard + k, t = candidate.text + k;
            if (!any || (h > last_heard && t > last_text)) {
                anchored[t] = h;
                last_heard = h;
                last_text = t;
                any = true;
            }
        }
    }
    // A passage with too little time for its words lies between anchors
    // that cannot both be right (a phrase the text says twice, heard once):
    // the short runs anchored on either side join it, until every passage
    // has room. At the text's start and end it is more likely what was not
    // said at all: a title, a sign-off.
    const auto start_of = [&](std::size_t t) { return t > 0 ? heard[anchored[t - 1]].end : 0.0; };
    const auto end_of = [&](std::size_t end) { return end < text.size() ? heard[anchored[end]].start : seconds; };
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t t = 0; t < text.size(); ++t) {
            std::size_t end = t;
            while (end < text.size() && anchored[end] == SIZE_MAX) {
                ++end;
            }
            if (end > t && t > 0 && end < text.size()
                && end_of(end) - start_of(t) + PASSAGE_SLACK_SECONDS
                    < static_cast<double>(end - t) * SHORTEST_WORD_SECONDS) {
                std::size_t before = t, after = end;
                while (before > 0 && anchored[before - 1] != SIZE_MAX) {
                    --before;
                }
                while (after < text.size() && anchored[after] != SIZE_MAX) {
                    ++after;
                }
                // A long run heard as written is right: the text there was not said.
                for (const auto& [from, to] : {std::pair(before, t), std::pair(end, after)}) {
                    for (std::size_t w = from; to - from < TRUSTED_RUN_WORDS && w < to; ++w) {
                        anchored[w] = SIZE_MAX;
                        joined = true;
                    }
                }
                if (joined) {
                    break;
                }
            }
            t = end;
        }
    }
    std::vector<TimedWord> timed;
    for (std::size_t t = 0; t < text.size();) {
        if (anchored[t] != SIZE_MAX) {
            const TimedWord& word = heard[anchored[t]];
            timed.push_back({text[t].written, word.start, word.end, word.confidence, false, text[t].origin, false});
            ++t;
            continue;
        }
        std::size_t end = t;
        while (end < text.size() && anchored[end] == SIZE_MAX) {
            ++end;
        }
        const double start = start_of(t);
        const double stop = std::max(end_of(end), start);
        for (std::size_t p = t; p < end; ++p) {
            timed.push_back({text[p].written, start, stop, std::nullopt, end - t > 1, text[t].origin, true});
        }
        t = end;
    }
    return timed;
}

} // namespace zendrik_mask
