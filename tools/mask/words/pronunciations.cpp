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
    explicit Lexicon(std::set<std::string> words) : wanted_(std::move(words)) {}
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
                // The CMU dictionary marks stress (EH1); the model's phones have none.
                if (phone.size() > 1 && phone.back() >= '0' && phone.back() <= '2') {
                    phone.pop_back();
                }
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

    std::map<std::string, std::vector<std::string>> take() { return std::move(pronunciations_); }

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

} // namespace

double listed_word_boost(double sensitivity)
{
    return std::pow(10.0, 3.0 * sensitivity - 5.0);
}

double least_confidence(double sensitivity)
{
    return 0.4 * (1.0 - sensitivity);
}

double least_fit(double sensitivity)
{
    return 3.0 - 22.0 * sensitivity;
}

bool sure_enough(const FoundWord& found, double sensitivity)
{
    return found.confidence.value_or(1.0) >= least_confidence(sensitivity)
        && (!found.fit || *found.fit >= least_fit(sensitivity)) && found.agreed.value_or(true);
}

std::map<std::string, std::vector<std::string>> look_up_words(std::set<std::string> words,
                                                              const std::vector<Dictionary>& dictionaries)
{
    Lexicon lexicon(std::move(words));
    for (const Dictionary& dictionary : dictionaries) {
        lexicon.read(dictionary);
    }
    return lexicon.take();
}

std::vector<ListedWord> share_pattern_boosts(std::vector<ListedWord> listed, const EnglishProbability& english)
{
    // About the rarest word the default model's English holds (10^-9.5).
    constexpr double RAREST_ENGLISH = 3e-10;
    std::vector<double> weight(listed.size());
    std::map<std::string, double> pattern_weight;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (!listed[i].patterns.empty()) {
            weight[i] = std::max(english(listed[i].word), RAREST_ENGLISH);
            for (const std::string& pattern : listed[i].patterns) {
                pattern_weight[pattern] += weight[i];
            }
        }
    }
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (!listed[i].named && !listed[i].patterns.empty()) {
            double share = 0;
            for (const std::string& pattern : listed[i].patterns) {
                share = std::max(share, weight[i] / pattern_weight[pattern]);
            }
            listed[i].boost *= share;
        }
    }
    return listed;
}

DecodingPlan plan_decoding(const std::vector<WordPattern>& patterns, const std::vector<Dictionary>& dictionaries,
                           double sensitivity, const Guesser& guess)
{
    Lexicon lexicon(patterns);
    for (const Dictionary& dictionary : dictionaries) {
        lexicon.read(dictionary);
    }

    std::vector<std::string> missing;
    std::map<std::string, std::string> guessed;
    std::map<std::string, double> sensitivity_of;             // each word used, at the lowest sensitivity asked
    std::map<std::string, std::set<std::string>> patterns_of; // the '*' patterns that matched each word
    std::set<std::string> named;                              // words listed as themselves
    auto use = [&](const std::string& word, double asked, const std::string& pattern) {
        const auto [it, added] = sensitivity_of.emplace(word, asked);
        if (!added) {
            it->second = std::min(it->second, asked);
        }
        if (pattern.empty()) {
            named.insert(word);
        } else {
            patterns_of[word].insert(pattern);
        }
    };
    for (const WordPattern& pattern : patterns) {
        const double asked = pattern.sensitivity.value_or(sensitivity);
        for (const std::string& word : pattern.words) {
            if (!is_wildcard(word)) {
                if (lexicon.find(word) || guessed.count(word)) {
                    use(word, asked, "");
                } else if (std::optional<std::string> phones = guess ? guess(word) : std::nullopt) {
                    guessed.emplace(word, *phones);
                    use(word, asked, "");
                } else {
                    missing.push_back(word);
                }
                continue;
            }
            const std::vector<std::string> endings = lexicon.starting_with(word.substr(0, word.size() - 1));
            if (endings.empty()) {
                missing.push_back(word);
            } else if (endings.size() > MAX_WILDCARD_WORDS) {
                throw bad_input(pattern.origin + ": '" + word + "' matches " + std::to_string(endings.size())
                                + " dictionary words, more than " + std::to_string(MAX_WILDCARD_WORDS)
                                + "; give more letters before the '*'");
            }
            for (const std::string& ending : endings) {
                use(ending, asked, word);
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
    DecodingPlan plan;
    for (const auto& [word, asked] : sensitivity_of) {
        if (const auto guess_of = guessed.find(word); guess_of != guessed.end()) {
            plan.pronunciations.push_back({word, guess_of->second});
            plan.guessed.push_back({word, guess_of->second});
        }
        for (const std::string& phones : lexicon.find(word) ? *lexicon.find(word) : std::vector<std::string>{}) {
            plan.pronunciations.push_back({word, phones});
        }
        const std::set<std::string>& wildcards = patterns_of[word];
        plan.listed.push_back({word,
                               listed_word_boost(asked),
                               {wildcards.begin(), wildcards.end()},
                               named.count(word) > 0,
                               asked < sensitivity});
    }
    return plan;
}

} // namespace zendrik_mask
