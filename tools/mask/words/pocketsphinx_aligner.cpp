// SPDX-License-Identifier: ISC
// The aligner: PocketSphinx's grammar search over a grammar of the text, and
// the same frames decoded again as free phones to judge each word's fit.
#include "aligner.h"
#include "errors.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fsg_model.h>
#include <sphinxbase/jsgf.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace zendrik_mask {

namespace {

// The US English model's phones.
constexpr const char* PHONES[] = {"AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D", "DH", "EH", "ER", "EY",
                                  "F",  "G",  "HH", "IH", "IY", "JH", "K",  "L",  "M", "N",  "NG", "OW", "OY",
                                  "P",  "R",  "S",  "SH", "T",  "TH", "UH", "UW", "V", "W",  "Y",  "Z",  "ZH"};

// Each phone as a word of its own, twice: the edges' (speech the text leaves
// out, each phone made unlikely so that the text's own words win where they
// were said) and the slots' (any word said where a caption censored one).
constexpr const char* EDGE_PREFIX = "zzedge-";
constexpr const char* SLOT_PREFIX = "zzslot-";
constexpr const char* ALIAS_PREFIX = "zzword-";
constexpr const char* EDGE_PHONE_WEIGHT = "/0.001/";

bool starts(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// What JSGF takes as a token unquoted; other words go by an alias.
bool plain_token(const std::string& word)
{
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '\'' || c == '-' || c == '.' || c == '_';
    }) && !starts(word, "zz");
}

struct Segment {
    std::string word;
    int first, last;
    int32 acoustic;
};

// The decoder reads its dictionary only from a file: the texts' words, and
// each phone as a word, written for it and removed once read. Words that
// are no plain JSGF token go by an alias.
class DictionaryFile {
public:
    DictionaryFile(const std::vector<Pronunciation>& pronunciations, std::map<std::string, std::string>& tokens)
    {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/zendrik-mask-align-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) {
            const int error = errno;
            throw write_failed("cannot write the aligner's dictionary in '" + path_ + "': " + std::strerror(error));
        }
        std::string text;
        std::map<std::string, int> variants;
        for (const Pronunciation& pronunciation : pronunciations) {
            auto [token, added] = tokens.emplace(pronunciation.word, pronunciation.word);
            if (added && !plain_token(pronunciation.word)) {
                token->second = ALIAS_PREFIX + std::to_string(tokens.size());
            }
            const int variant = ++variants[token->second];
            text += token->second + (variant > 1 ? "(" + std::to_string(variant) + ")" : "") + " "
                + pronunciation.phones + "\n";
        }
        for (const char* phone : PHONES) {
            text += EDGE_PREFIX + std::string(phone) + " " + phone + "\n" + SLOT_PREFIX + phone + " " + phone + "\n";
        }
        const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (!written) {
            unlink(path_.c_str());
            throw write_failed("cannot write the aligner's dictionary in '" + path_ + "'");
        }
    }
    ~DictionaryFile() { unlink(path_.c_str()); }
    DictionaryFile(const DictionaryFile&) = delete;
    DictionaryFile& operator=(const DictionaryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class PocketSphinxAligner : public Aligner {
public:
    explicit PocketSphinxAligner(const AlignerSetup& setup)
    {
        err_set_logfp(nullptr);
        const std::string hmm = setup.model_dir;
        const DictionaryFile dictionary(setup.pronunciations, tokens_);
        // Full quality: a cue is short, and its times are what is bleeped.
        config_.reset(cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dictionary.path().c_str(),
                                  "-bestpath", "no", "-remove_silence", "no", "-remove_noise", "no", nullptr));
        if (config_ && !setup.adaptation.empty()) {
            cmd_ln_set_str_r(config_.get(), "-mllr", setup.adaptation.c_str());
        }
        decoder_.reset(config_ ? ps_init(config_.get()) : nullptr);
        if (!decoder_) {
            throw bad_input("cannot load the PocketSphinx acoustic model in '" + hmm
                            + "' for the aligner, or a pronunciation uses phones it does not have");
        }
        for (const char* phone : PHONES) {
            edge_phones_
                += (edge_phones_.empty() ? "" : " | ") + std::string(EDGE_PHONE_WEIGHT) + " " + EDGE_PREFIX + phone;
            slot_phones_ += (slot_phones_.empty() ? "" : " | ") + std::string(SLOT_PREFIX) + phone;
        }
        frame_rate_ = cmd_ln_int32_r(config_.get(), "-frate");
    }

    std::optional<std::vector<AlignedWord>> align(const int16_t* samples, std::size_t count,
                                                  const std::vector<std::string>& words) override
    {
        std::string text;
        std::vector<bool> slot(words.size());
        for (std::size_t i = 0; i < words.size(); ++i) {
            const std::string token = token_for(words[i]);
            slot[i] = token.empty();
            text += slot[i] ? " <slot>" : " " + token;
        }
        const std::string grammar = "#JSGF V1.0;\ngrammar cue;\n<edge> = (" + edge_phones_
            + ")+;\n<phone> = " + slot_phones_
            + ";\n<slot> = <phone> [<phone>] [<phone>] [<phone>] [<phone>] [<phone>];\npublic <cue> = [<edge>]" + text
            + " [<edge>];\n";
        const std::vector<Segment> aligned = decode(grammar, samples, count);
        if (aligned.empty()) {
            return std::nullopt;
        }
        const std::vector<Segment> free
            = decode("#JSGF V1.0;\ngrammar phones;\npublic <phones> = (" + slot_phones_ + ")*;\n", samples, count);
        std::vector<double> free_per_frame;
        for (const Segment& segment : free) {
            if (segment.last >= static_cast<int>(free_per_frame.size())) {
                free_per_frame.resize(static_cast<std::size_t>(segment.last) + 1, 0.0);
            }
            for (int f = segment.first; f <= segment.last; ++f) {
                free_per_frame[static_cast<std::size_t>(f)]
                    = static_cast<double>(segment.acoustic) / (segment.last - segment.first + 1);
            }
        }
        return place(aligned, slot, free_per_frame);
    }

private:
    // The grammar's token for a word, "" for a slot.
    std::string token_for(const std::string& word) const
    {
        const auto token = tokens_.find(word);
        return token == tokens_.end() ? "" : token->second;
    }

    // The segments of the best path through `grammar`, silence and noise
    // left out; none when the sound cannot be fitted to it.
    std::vector<Segment> decode(const std::string& grammar, const int16_t* samples, std::size_t count)
    {
        ps_decoder_t* decoder = decoder_.get();
        if (!use_grammar(grammar)) {
            throw write_failed("PocketSphinx refused the grammar of a cue's text");
        }
        if (ps_start_utt(decoder) < 0 || ps_process_raw(decoder, samples, count, FALSE, TRUE) < 0
            || ps_end_utt(decoder) < 0) {
            throw write_failed("PocketSphinx failed while aligning");
        }
        std::vector<Segment> segments;
        int32 score = 0;
        if (ps_get_hyp(decoder, &score) == nullptr) {
            return segments;
        }
        for (ps_seg_t* segment = ps_seg_iter(decoder); segment; segment = ps_seg_next(segment)) {
            const char* word = ps_seg_word(segment);
            // Silence, noise, and the grammar's empty steps ("(NULL)").
            if (!word || word[0] == '<' || word[0] == '[' || word[0] == '+' || word[0] == '(') {
                continue;
            }
            Segment found{word, 0, 0, 0};
            ps_seg_frames(segment, &found.first, &found.last);
            int32 language = 0, backoff = 0;
            ps_seg_prob(segment, &found.acoustic, &language, &backoff);
            if (const auto variant = found.word.find('('); variant != std::string::npos && variant > 0) {
                found.word.erase(variant);
            }
            segments.push_back(std::move(found));
        }
        return segments;
    }

    // The grammar as the search to decode with. Built here rather than by
    // ps_set_jsgf_string, which never frees the grammar it parses: an
    // aligner makes one for every cue, and the recogniser for every listed
    // word it hears.
    bool use_grammar(const std::string& grammar)
    {
        std::unique_ptr<jsgf_t, void (*)(jsgf_t*)> parsed(jsgf_parse_string(grammar.c_str(), nullptr),
                                                          jsgf_grammar_free);
        jsgf_rule_t* rule = parsed ? jsgf_get_public_rule(parsed.get()) : nullptr;
        if (!rule) {
            return false;
        }
        fsg_model_t* fsg = jsgf_build_fsg(parsed.get(), rule, ps_get_logmath(decoder_.get()),
                                          cmd_ln_float32_r(config_.get(), "-lw"));
        if (!fsg) {
            return false;
        }
        // The search keeps a reference of its own.
        const bool set = ps_set_fsg(decoder_.get(), "text", fsg) >= 0 && ps_set_search(decoder_.get(), "text") >= 0;
        fsg_model_free(fsg);
        return set;
    }

    // The text's words in the aligned segments, in order: a word a segment,
    // a slot the run of slot phones it became (slots in a row share it).
    std::vector<AlignedWord> place(const std::vector<Segment>& aligned, const std::vector<bool>& slot,
                                   const std::vector<double>& free_per_frame) const
    {
        std::vector<AlignedWord> placed;
        std::size_t at = 0;
        const auto fit = [&](int first, int last, double acoustic) {
            double free = 0;
            for (int f = first; f <= last && f < static_cast<int>(free_per_frame.size()); ++f) {
                free += free_per_frame[static_cast<std::size_t>(f)];
            }
            return (acoustic - free) / (last - first + 1);
        };
        for (std::size_t i = 0; i < slot.size(); ++i) {
            while (at < aligned.size() && starts(aligned[at].word, EDGE_PREFIX)) {
                ++at;
            }
            if (at == aligned.size()) {
                break;
            }
            if (slot[i] && !placed.empty() && i > 0 && slot[i - 1]) {
                placed.push_back({i, placed.back().start, placed.back().end, placed.back().fit});
                continue;
            }
            const int first = aligned[at].first;
            int last = aligned[at].last;
            double acoustic = aligned[at].acoustic;
            if (slot[i]) {
                while (at + 1 < aligned.size() && starts(aligned[at + 1].word, SLOT_PREFIX)) {
                    ++at;
                    last = aligned[at].last;
                    acoustic += aligned[at].acoustic;
                }
            }
            ++at;
            placed.push_back({i, static_cast<double>(first) / frame_rate_, static_cast<double>(last + 1) / frame_rate_,
                              fit(first, last, acoustic)});
        }
        return placed;
    }

    std::unique_ptr<cmd_ln_t, int (*)(cmd_ln_t*)> config_{nullptr, cmd_ln_free_r};
    std::unique_ptr<ps_decoder_t, int (*)(ps_decoder_t*)> decoder_{nullptr, ps_free};
    std::string edge_phones_, slot_phones_;
    std::map<std::string, std::string> tokens_; // each word with a pronunciation, to its token
    int frame_rate_ = 100;
};

} // namespace

std::unique_ptr<Aligner> make_pocketsphinx_aligner(const AlignerSetup& setup)
{
    return std::make_unique<PocketSphinxAligner>(setup);
}

} // namespace zendrik_mask
