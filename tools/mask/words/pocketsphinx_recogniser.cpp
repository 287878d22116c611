// SPDX-License-Identifier: ISC
// The built-in recogniser: CMU PocketSphinx decoding with the model's general
// English language model, interpolated with a small one that holds only the
// listed words, so that those are a little more likely than English alone
// makes them. Each listed word the decoding hears is looked at again before
// it is reported: aligned alone to its stretch of sound, against free
// phones, so that a word the boost invented where something else was said
// shows a poor fit; and a short one is decoded again there without the
// boost, since a word of three phones fits many a syllable well.
#include "aligner.h"
#include "errors.h"
#include "pronunciations.h"
#include "recogniser.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/ngram_model.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>

namespace zendrik_mask {

namespace {

// The listed words' model gets this share of every probability; each word's
// own probability in it is its boost divided by the share.
constexpr double LISTED_SHARE = 0.01;

// A listed word is aligned with this much sound either side of where the
// decoding put it, so that edges it placed a little wrong do not cut it.
constexpr double FIT_MARGIN_SECONDS = 0.3;
// The fit of a word that could not be aligned to its sound at all.
constexpr double UNFITTED = -100.0;

// Listed words of at most this many phones ("hell", "damn", "shit") are
// kept only where English alone, without the boost, hears them too: on the
// measurement the boost invented them inside other words and pauses far more
// often than longer ones, and their fit did not tell those from words said.
constexpr int MOST_PHONES_TO_AGREE_ON = 3;
// The sound either side of such a word decoded again: a few words of
// context, so that the language model judges it in its sentence.
constexpr double AGREEMENT_CONTEXT_SECONDS = 2.0;
// A word with no other this near on either side was said alone ("Shit!"):
// English alone, with no sentence to judge it in, heard a third fewer such
// words than the boosted decoding, so it keeps the other checks only.
constexpr double ALONE_GAP_SECONDS = 0.3;

// The decoder reads language models only from files: the listed words'
// model is written as ARPA text for it and removed once read.
class ListedWordsModel {
public:
    explicit ListedWordsModel(const std::vector<ListedWord>& listed)
    {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/zendrik-mask-words-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) {
            const int error = errno;
            throw write_failed("cannot write the list's language model in '" + path_ + "': " + std::strerror(error));
        }
        std::string text = "\\data\\\nngram 1=" + std::to_string(listed.size() + 2) + "\n\n\\1-grams:\n";
        text += "-99 <s> 0\n-99 </s> 0\n";
        for (const ListedWord& word : listed) {
            char probability[32];
            std::snprintf(probability, sizeof probability, "%.4f ",
                          std::log10(std::clamp(word.boost / LISTED_SHARE, 1e-20, 1.0)));
            text += probability + word.word + " 0\n";
        }
        text += "\n\\end\\\n";
        const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (!written) {
            unlink(path_.c_str());
            throw write_failed("cannot write the list's language model in '" + path_ + "'");
        }
    }
    ~ListedWordsModel() { unlink(path_.c_str()); }
    ListedWordsModel(const ListedWordsModel&) = delete;
    ListedWordsModel& operator=(const ListedWordsModel&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Silence, breath and noise: "<s>", "<sil>", "[NOISE]", "++UM++".
bool is_filler(const char* word)
{
    return word[0] == '<' || word[0] == '[' || word[0] == '+';
}

// A word as the decoder reports it, "amiable(2)", as the dictionary spells it.
std::string plain_word(const char* reported)
{
    std::string word = reported;
    if (const auto variant = word.find('('); variant != std::string::npos && variant > 0) {
        word.erase(variant);
    }
    return word;
}

// The first name "word", "word(2)", "word(3)"... that the dictionary does not hold.
std::string free_variant(ps_decoder_t* decoder, const std::string& word)
{
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? word : word + "(" + std::to_string(n) + ")";
        char* phones = ps_lookup_word(decoder, name.c_str());
        if (!phones) {
            return name;
        }
        std::free(phones);
    }
}

// How many phones the dictionary gives `reported`, a word as the decoder
// names it, variant included; 0 for a word it lacks.
int phone_count(ps_decoder_t* decoder, const char* reported)
{
    char* phones = ps_lookup_word(decoder, reported);
    if (!phones) {
        return 0;
    }
    int count = 0;
    for (const char* c = phones; *c; ++c) {
        count += *c != ' ' && (c == phones || c[-1] == ' ');
    }
    std::free(phones);
    return count;
}

// Whether the dictionary already says `word` as `phones`, in any variant.
bool knows(ps_decoder_t* decoder, const std::string& word, const std::string& phones)
{
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? word : word + "(" + std::to_string(n) + ")";
        char* known = ps_lookup_word(decoder, name.c_str());
        if (!known) {
            return false;
        }
        const bool same = phones == known;
        std::free(known);
        if (same) {
            return true;
        }
    }
}

struct ModelFree {
    void operator()(ngram_model_t* model) const { ngram_model_free(model); }
};
using Model = std::unique_ptr<ngram_model_t, ModelFree>;

class PocketSphinx : public Recogniser {
public:
    explicit PocketSphinx(const Decoding& setup)
    {
        // PocketSphinx logs every step to stderr; zendrik-mask says what matters itself.
        err_set_logfp(nullptr);
        const std::string& model = setup.model_dir;
        // One pass (no flat-lexicon rescoring), at most 5000 active HMMs a
        // frame, every other frame's Gaussians and the two best of them: on
        // the measurement about three times as fast, finding 3 % fewer words
        // and making fewer false alarms. Silence is decoded too: frames
        // dropped as silence would shift the times reported after them.
        config_.reset(cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.c_str(), "-dict", setup.dictionary.c_str(),
                                  "-fwdflat", "no", "-bestpath", "yes", "-maxhmmpf", "5000", "-maxwpf", "10", "-ds",
                                  "2", "-topn", "2", "-remove_silence", "no", "-remove_noise", "no", nullptr));
        if (config_ && !setup.adaptation.empty()) {
            cmd_ln_set_str_r(config_.get(), "-mllr", setup.adaptation.c_str());
        }
        decoder_.reset(config_ ? ps_init(config_.get()) : nullptr);
        if (!decoder_) {
            throw bad_input("cannot load the PocketSphinx acoustic model in '" + model + "' with the dictionary '"
                            + setup.dictionary + "' (--model takes a folder holding mdef, means, variances...)");
        }
        for (const Pronunciation& pronunciation : setup.pronunciations) {
            if (knows(decoder_.get(), pronunciation.word, pronunciation.phones)) {
                continue;
            }
            const std::string name = free_variant(decoder_.get(), pronunciation.word);
            if (ps_add_word(decoder_.get(), name.c_str(), pronunciation.phones.c_str(), FALSE) < 0) {
                throw bad_input("the pronunciation of '" + pronunciation.word + "', \"" + pronunciation.phones
                                + "\", uses phones the acoustic model in '" + model + "' does not have");
            }
        }
        use_language_models(setup);
        frame_rate_ = cmd_ln_int32_r(config_.get(), "-frate");
        for (const ListedWord& word : setup.listed) {
            listed_.insert(word.word);
            if (word.held_back) {
                held_back_.insert(word.word);
            }
        }
        if (!listed_.empty()) {
            aligner_ = make_pocketsphinx_aligner({model, setup.pronunciations, setup.adaptation});
        }
    }

    std::vector<TimedWord> listen(const int16_t* samples, std::size_t count) override
    {
        std::vector<TimedWord> heard;
        std::vector<bool> to_agree_on;
        // One whole utterance at once: the cepstral mean is then this
        // stretch's own, whatever was decoded before.
        if (ps_start_utt(decoder_.get()) < 0 || ps_process_raw(decoder_.get(), samples, count, FALSE, TRUE) < 0
            || ps_end_utt(decoder_.get()) < 0) {
            throw write_failed("PocketSphinx failed while decoding");
        }
        logmath_t* logmath = ps_get_logmath(decoder_.get());
        // The segments of the best path through the lattice, each with its
        // posterior probability.
        for (ps_seg_t* segment = ps_seg_iter(decoder_.get()); segment; segment = ps_seg_next(segment)) {
            const char* reported = ps_seg_word(segment);
            if (is_filler(reported)) {
                continue;
            }
            int first = 0;
            int last = 0;
            ps_seg_frames(segment, &first, &last);
            int32 acoustic = 0;
            int32 language = 0;
            int32 backoff = 0;
            const int32 posterior = ps_seg_prob(segment, &acoustic, &language, &backoff);
            TimedWord word;
            word.text = plain_word(reported);
            word.start = static_cast<double>(first) / frame_rate_;
            word.end = static_cast<double>(last + 1) / frame_rate_;
            word.confidence = std::clamp(logmath_exp(logmath, posterior), 0.0, 1.0);
            // The segment iterator reuses its name buffer: count now.
            to_agree_on.push_back(
                english_knows_.count(word.text)
                && (held_back_.count(word.text) || phone_count(decoder_.get(), reported) <= MOST_PHONES_TO_AGREE_ON));
            heard.push_back(std::move(word));
        }
        for (std::size_t i = 0; i < heard.size(); ++i) {
            if (listed_.count(heard[i].text)) {
                heard[i].fit = fit_alone(heard[i], samples, count);
            }
            const bool alone = (i == 0 || heard[i].start - heard[i - 1].end > ALONE_GAP_SECONDS)
                && (i + 1 == heard.size() || heard[i + 1].start - heard[i].end > ALONE_GAP_SECONDS);
            if (to_agree_on[i] && !alone) {
                heard[i].agreed = heard_without_boost(heard[i], samples, count);
            }
        }
        return heard;
    }

private:
    // The samples from `margin` seconds before `word` to `margin` after it,
    // clipped to the stretch.
    static std::pair<std::size_t, std::size_t> samples_around(const TimedWord& word, double margin, std::size_t count)
    {
        const auto sample_at = [count](double seconds) {
            return std::min(count, static_cast<std::size_t>(std::max(0.0, seconds) * RECOGNISER_RATE));
        };
        return {sample_at(word.start - margin), sample_at(word.end + margin)};
    }

    // How well `word` alone, with free phones around it, explains the sound
    // where it was heard: the decoding's words around it no longer help it.
    double fit_alone(const TimedWord& word, const int16_t* samples, std::size_t count)
    {
        const auto [first, last] = samples_around(word, FIT_MARGIN_SECONDS, count);
        const auto aligned = aligner_->align(samples + first, last - first, {word.text});
        if (!aligned) {
            return UNFITTED;
        }
        for (const AlignedWord& placed : *aligned) {
            if (placed.index == 0) {
                return placed.fit;
            }
        }
        return UNFITTED;
    }

    // Whether English alone, the list's boost left out, hears `word` where
    // the boosted decoding put it, in the sound around it; nothing when it
    // found no sentence there at all (its search can end nowhere where the
    // sound is cut mid-word), which says nothing of the word.
    std::optional<bool> heard_without_boost(const TimedWord& word, const int16_t* samples, std::size_t count)
    {
        const auto [first, last] = samples_around(word, AGREEMENT_CONTEXT_SECONDS, count);
        // Back to the boosted search however this ends, so that a decoder
        // kept for the next stretch never decodes it with English alone.
        struct BoostedAgain {
            ps_decoder_t* decoder;
            ~BoostedAgain() { ps_set_search(decoder, "words"); }
        } boosted_again{decoder_.get()};
        if (ps_set_search(decoder_.get(), "english") < 0 || ps_start_utt(decoder_.get()) < 0
            || ps_process_raw(decoder_.get(), samples + first, last - first, FALSE, TRUE) < 0
            || ps_end_utt(decoder_.get()) < 0) {
            throw write_failed("PocketSphinx failed while decoding");
        }
        const double offset = static_cast<double>(first) / RECOGNISER_RATE;
        int32 score = 0;
        const bool decoded = ps_get_hyp(decoder_.get(), &score) != nullptr;
        bool agreed = false;
        for (ps_seg_t* segment = ps_seg_iter(decoder_.get()); segment; segment = ps_seg_next(segment)) {
            int from = 0;
            int to = 0;
            ps_seg_frames(segment, &from, &to);
            agreed = agreed
                || (plain_word(ps_seg_word(segment)) == word.text
                    && offset + static_cast<double>(from) / frame_rate_ < word.end
                    && offset + static_cast<double>(to + 1) / frame_rate_ > word.start);
        }
        return decoded ? std::optional<bool>(agreed) : std::nullopt;
    }

    void use_language_models(const Decoding& setup)
    {
        logmath_t* logmath = ps_get_logmath(decoder_.get());
        Model general(ngram_model_read(config_.get(), setup.language_model.c_str(), NGRAM_AUTO, logmath));
        if (!general) {
            throw bad_input("cannot read the language model '" + setup.language_model + "'");
        }
        const auto english = [&](const std::string& word) {
            const char* words[] = {word.c_str()};
            return ngram_wid(general.get(), word.c_str()) == ngram_unknown_wid(general.get())
                ? 0.0
                : logmath_exp(logmath, ngram_prob(general.get(), words, 1));
        };
        for (const ListedWord& word : setup.listed) {
            if (english(word.word) > 0) {
                english_knows_.insert(word.word);
            }
        }
        // English alone, to agree on short words with: a search of its own
        // on the same decoder, so it costs no second acoustic model.
        if (!english_knows_.empty() && ps_set_lm(decoder_.get(), "english", general.get()) < 0) {
            throw bad_input("PocketSphinx refused the language model '" + setup.language_model + "'");
        }
        const ListedWordsModel file(share_pattern_boosts(setup.listed, english));
        Model listed(ngram_model_read(config_.get(), file.path().c_str(), NGRAM_ARPA, logmath));
        if (!listed) {
            throw write_failed("PocketSphinx refused the list's language model");
        }
        ngram_model_t* models[] = {general.get(), listed.get()};
        const char* names[] = {"english", "listed"};
        const float32 weights[] = {static_cast<float32>(1.0 - LISTED_SHARE), static_cast<float32>(LISTED_SHARE)};
        // The set and then the search keep references of their own: ours
        // are given up as the models and the set leave this scope.
        ngram_model_t* both = ngram_model_set_init(config_.get(), models, const_cast<char**>(names), weights, 2);
        if (!both) {
            throw write_failed("PocketSphinx could not join the language models");
        }
        const int set = ps_set_lm(decoder_.get(), "words", both);
        ngram_model_free(both);
        if (set < 0 || ps_set_search(decoder_.get(), "words") < 0) {
            throw bad_input("PocketSphinx refused the language model '" + setup.language_model + "'");
        }
    }

    // Owned so that a constructor that throws half-way frees them too.
    std::unique_ptr<cmd_ln_t, int (*)(cmd_ln_t*)> config_{nullptr, cmd_ln_free_r};
    std::unique_ptr<ps_decoder_t, int (*)(ps_decoder_t*)> decoder_{nullptr, ps_free};
    int frame_rate_ = 100;
    std::set<std::string> listed_;
    std::set<std::string> held_back_;     // agreed on whatever their length
    std::set<std::string> english_knows_; // the listed words English alone can say
    std::unique_ptr<Aligner> aligner_;
};

} // namespace

std::unique_ptr<Recogniser> make_pocketsphinx(const Decoding& setup)
{
    return std::make_unique<PocketSphinx>(setup);
}

} // namespace zendrik_mask
