// SPDX-License-Identifier: ISC
#include "pronunciations.h"

#include "errors.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

namespace zendrik_mask {

namespace {

bool is_wildcard(const std::string& word)
{
    return !word.empty() && word.back() == '*';
}

// Every pronunciation of the words the patterns need, by word, in the
// dictionaries' order.
class Lexicon {
public:
    explicit Lexicon(const std::vector<WordPattern>& patterns)
    {
        for (const WordPattern& pattern : patterns) {
            for (const std::string& word : pattern.words) {
                if (is_wildcard(word)) {
                    prefixes_.insert(word.substr(0, word.size() - 1));
                } else {
                    wanted_.insert(word);
                }
            }
        }
    }

    void read(const Dictionary& dictionary)
    {
        std::set<std::string> seen_here;
        std::string line;
        int line_number = 0;
        while (std::getline(*dictionary.text, line)) {
            ++line_number;
            if (const auto comment = line.find('#'); comment != std::string::npos) {
                line.erase(comment);
            }
            std::istringstream fields(line);
            std::string word;
            if (!(fields >> word) || word.rfind(";;;", 0) == 0) {
                continue;
            }
            std::string phones;
            for (std::string phone; fields >> phone;) {
                phones += (phones.empty() ? "" : " ") + phone;
            }
            if (phones.empty()) {
                throw bad_input(dictionary.name + ":" + std::to_string(line_number) + ": '" + word
                                + "' has no phones (a line is \"word PH ON ES\")");
            }
            // "word(2)" is the second way to say "word".
            if (const auto variant = word.find('('); variant != std::string::npos && variant > 0) {
                word.erase(variant);
            }
            // Folded as the list's words are, so that a user's "Émile" meets --word émile.
            word = fold_text(word);
            if (!wanted(word) || (pronunciations_.count(word) && !seen_here.count(word))) {
                continue;
            }
            seen_here.insert(word);
            pronunciations_[word].push_back(phones);
        }
    }

    const std::vector<std::string>* find(const std::string& word) const
    {
        const auto found = pronunciations_.find(word);
        return found == pronunciations_.end() ? nullptr : &found->second;
    }

    std::vector<std::string> starting_with(const std::string& prefix) const
    {
        std::vector<std::string> words;
        for (auto it = pronunciations_.lower_bound(prefix);
             it != pronunciations_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            words.push_back(it->first);
        }
        return words;
    }

private:
    bool wanted(const std::string& word) const
    {
        if (wanted_.count(word)) {
            return true;
        }
        return std::any_of(prefixes_.begin(), prefixes_.end(),
                           [&](const std::string& prefix) { return word.compare(0, prefix.size(), prefix) == 0; });
    }

    std::set<std::string> wanted_;
    std::set<std::string> prefixes_;
    std::map<std::string, std::vector<std::string>> pronunciations_;
};

std::size_t phone_count(const std::string& phones)
{
    return static_cast<std::size_t>(std::count(phones.begin(), phones.end(), ' ')) + 1;
}

// The name PocketSphinx gives a word's n-th pronunciation.
std::string variant_name(const std::string& word, std::size_t n)
{
    return n == 0 ? word : word + "(" + std::to_string(n + 1) + ")";
}

} // namespace

double keyphrase_threshold(std::size_t phones, double sensitivity)
{
    return std::pow(10.0, static_cast<double>(phones) * (2.0 - 5.0 * sensitivity));
}

SpottingPlan plan_spotting(const std::vector<WordPattern>& patterns, const std::vector<Dictionary>& dictionaries,
                           double sensitivity)
{
    Lexicon lexicon(patterns);
    for (const Dictionary& dictionary : dictionaries) {
        lexicon.read(dictionary);
    }

    std::vector<std::string> missing;
    std::set<std::string> used_words;
    std::map<std::string, std::size_t> keyphrase_index;
    SpottingPlan plan;
    auto add_keyphrase = [&](const std::string& words, std::size_t variant, const std::string& last_word,
                             std::size_t phones, std::size_t pattern) {
        const std::string text = words + variant_name(last_word, variant);
        const double threshold = keyphrase_threshold(phones, patterns[pattern].sensitivity.value_or(sensitivity));
        const auto [it, added] = keyphrase_index.emplace(text, plan.keyphrases.size());
        if (added) {
            plan.keyphrases.push_back({text, threshold});
        } else {
            // Listed twice ("damn*" and "damn sensitivity=0.1"): the stricter
            // threshold holds, as a word held back on purpose should be.
            plan.keyphrases[it->second].threshold = std::max(plan.keyphrases[it->second].threshold, threshold);
        }
        plan.patterns_of[words + last_word].insert(pattern);
    };

    for (std::size_t p = 0; p < patterns.size(); ++p) {
        const WordPattern& pattern = patterns[p];
        // The words before the last are spelled out; the last may stand for many.
        std::string lead;
        std::size_t lead_phones = 0;
        bool complete = true;
        for (std::size_t w = 0; w + 1 < pattern.words.size(); ++w) {
            const std::vector<std::string>* found = lexicon.find(pattern.words[w]);
            if (!found) {
                missing.push_back(pattern.words[w]);
                complete = false;
                continue;
            }
            used_words.insert(pattern.words[w]);
            lead += pattern.words[w] + " ";
            lead_phones += phone_count(found->front());
        }
        const std::string& last = pattern.words.back();
        std::vector<std::string> endings;
        if (is_wildcard(last)) {
            endings = lexicon.starting_with(last.substr(0, last.size() - 1));
            if (endings.empty()) {
                missing.push_back(last);
            } else if (endings.size() > MAX_WILDCARD_WORDS) {
                throw bad_input(pattern.origin + ": '" + last + "' matches " + std::to_string(endings.size())
                                + " dictionary words, more than " + std::to_string(MAX_WILDCARD_WORDS)
                                + "; give more letters before the '*'");
            }
        } else if (lexicon.find(last)) {
            endings.push_back(last);
        } else {
            missing.push_back(last);
        }
        if (!complete) {
            continue;
        }
        for (const std::string& ending : endings) {
            used_words.insert(ending);
            const std::vector<std::string>& ways = *lexicon.find(ending);
            // A single word is spotted in each of its pronunciations; a
            // phrase in its words' first ones, as there would be too many.
            const std::size_t variants = pattern.words.size() == 1 ? ways.size() : 1;
            for (std::size_t v = 0; v < variants; ++v) {
                add_keyphrase(lead, v, ending, lead_phones + phone_count(ways[v]), p);
            }
        }
    }

    if (!missing.empty()) {
        std::sort(missing.begin(), missing.end());
        missing.erase(std::unique(missing.begin(), missing.end()), missing.end());
        std::string list;
        for (const std::string& word : missing) {
            list += (list.empty() ? "'" : ", '") + word + "'";
        }
        throw bad_input("not in the pronunciation dictionary: " + list
                        + "; add a pronunciation with --dict FILE, one word a line in CMU format (e.g. \"zendrik Z EH N D R IH K\"),"
                        " using the model's phones");
    }
    for (const std::string& word : used_words) {
        const std::vector<std::string>& ways = *lexicon.find(word);
        for (std::size_t v = 0; v < ways.size(); ++v) {
            plan.pronunciations.push_back({variant_name(word, v), ways[v]});
        }
    }
    return plan;
}

} // namespace zendrik_mask
