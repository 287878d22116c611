// SPDX-License-Identifier: ISC
// The built-in recogniser: CMU PocketSphinx spotting keyphrases, with no
// language model, so that only the listed words are looked for.
#include "errors.h"
#include "recogniser.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// The decoder reads keyphrases only from a file: one is written for it and
// removed as soon as it has been read.
class KeyphraseFile {
public:
    explicit KeyphraseFile(const std::vector<Keyphrase>& keyphrases)
    {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/zendrik-mask-keyphrases-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) {
            const int error = errno;
            throw write_failed("cannot write the keyphrase list in '" + path_ + "': " + std::strerror(error));
        }
        std::string text;
        for (const Keyphrase& keyphrase : keyphrases) {
            char threshold[32];
            std::snprintf(threshold, sizeof threshold, " /%.4g/\n", keyphrase.threshold);
            text += keyphrase.text + threshold;
        }
        const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (!written) {
            unlink(path_.c_str());
            throw write_failed("cannot write the keyphrase list in '" + path_ + "'");
        }
    }
    ~KeyphraseFile() { unlink(path_.c_str()); }
    KeyphraseFile(const KeyphraseFile&) = delete;
    KeyphraseFile& operator=(const KeyphraseFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A keyphrase as PocketSphinx reports it, "made amiable(2) ", as its words:
// "made amiable".
std::string plain_words(const char* reported)
{
    std::string plain;
    std::istringstream words(reported);
    for (std::string word; words >> word;) {
        if (const auto variant = word.find('('); variant != std::string::npos && variant > 0) {
            word.erase(variant);
        }
        plain += (plain.empty() ? "" : " ") + word;
    }
    return plain;
}

class PocketSphinx : public Recogniser {
public:
    explicit PocketSphinx(const KeywordSpotting& setup)
    {
        // PocketSphinx logs every step to stderr; zendrik-mask says what matters itself.
        err_set_logfp(nullptr);
        const std::string model = setup.model_dir;
        // Every other frame and the two best Gaussians: about twice as fast,
        // and on read speech it found the same words at the same times.
        // Silence is decoded too: frames dropped as silence would shift the
        // times reported after them, by as much as the detector's state,
        // left over from earlier stretches, decided.
        config_.reset(cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.c_str(), "-ds", "2", "-topn", "2",
                                  "-remove_silence", "no", "-remove_noise", "no", nullptr));
        decoder_.reset(config_ ? ps_init(config_.get()) : nullptr);
        if (!decoder_) {
            throw bad_input("cannot load the PocketSphinx acoustic model in '" + model
                            + "' (--model takes a folder holding mdef, means, variances...)");
        }
        for (const Pronunciation& pronunciation : setup.pronunciations) {
            if (ps_add_word(decoder_.get(), pronunciation.word.c_str(), pronunciation.phones.c_str(), FALSE) < 0) {
                throw bad_input("the pronunciation of '" + pronunciation.word + "', \"" + pronunciation.phones
                                + "\", uses phones the acoustic model in '" + model + "' does not have");
            }
        }
        const KeyphraseFile keyphrases(setup.keyphrases);
        if (ps_set_kws(decoder_.get(), "words", keyphrases.path().c_str()) < 0
            || ps_set_search(decoder_.get(), "words") < 0) {
            throw bad_input("PocketSphinx refused the list of words to find");
        }
        frame_rate_ = cmd_ln_int32_r(config_.get(), "-frate");
    }

    std::vector<TimedWord> listen(const int16_t* samples, std::size_t count) override
    {
        std::vector<TimedWord> heard;
        // One whole utterance at once: the cepstral mean is then this
        // stretch's own, whatever was decoded before.
        if (ps_start_utt(decoder_.get()) < 0 || ps_process_raw(decoder_.get(), samples, count, FALSE, TRUE) < 0
            || ps_end_utt(decoder_.get()) < 0) {
            throw write_failed("PocketSphinx failed while decoding");
        }
        logmath_t* logmath = ps_get_logmath(decoder_.get());
        for (ps_seg_t* segment = ps_seg_iter(decoder_.get()); segment; segment = ps_seg_next(segment)) {
            int first = 0;
            int last = 0;
            ps_seg_frames(segment, &first, &last);
            int32 acoustic = 0;
            int32 language = 0;
            int32 backoff = 0;
            const int32 probability = ps_seg_prob(segment, &acoustic, &language, &backoff);
            TimedWord word;
            word.text = plain_words(ps_seg_word(segment));
            word.start = static_cast<double>(first) / frame_rate_;
            word.end = static_cast<double>(last + 1) / frame_rate_;
            word.confidence = std::min(1.0, logmath_exp(logmath, probability));
            heard.push_back(std::move(word));
        }
        return heard;
    }

private:
    // Owned so that a constructor that throws half-way frees them too.
    std::unique_ptr<cmd_ln_t, int (*)(cmd_ln_t*)> config_{nullptr, cmd_ln_free_r};
    std::unique_ptr<ps_decoder_t, int (*)(ps_decoder_t*)> decoder_{nullptr, ps_free};
    int frame_rate_ = 100;
};

} // namespace

std::unique_ptr<Recogniser> make_pocketsphinx(const KeywordSpotting& setup)
{
    return std::make_unique<PocketSphinx>(setup);
}

} // namespace zendrik_mask
