// SPDX-License-Identifier: ISC
// The finds a subtitle cue gives, placed word by word: each cue that holds a
// listed or censored word is aligned to the sound, and its finds take the
// times of their own words; a cue whose text does not fit the sound keeps
// its whole times, and the user is told which.
#include "adaptation.h"
#include "cue_alignment.h"
#include "errors.h"
#include "media_job.h"
#include "pronunciation_guess.h"
#include "pronunciations.h"
#include "ranges.h"
#include "text_input.h"
#include "word_search.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace zendrik_mask {

namespace {

// A censored word aligned shorter or longer than these was not said there.
constexpr double SHORTEST_CENSORED_SECONDS = 0.1;
constexpr double LONGEST_CENSORED_SECONDS = 1.5;
// Cues named one by one in the warnings; the rest are counted.
constexpr std::size_t NAMED_CUES = 10;

bool in_cue(const FoundWord& found, const CueText& cue)
{
    return found.start == cue.start && found.end == cue.end;
}

// The finds of one aligned cue, each over its own words' times; nothing when
// a find lies where the alignment does not fit the sound.
std::optional<std::vector<FoundWord>> aligned_finds(const WordRequest& request, const AlignedCue& aligned)
{
    if (!aligned.fitted) {
        return std::nullopt;
    }
    std::vector<FoundWord> finds;
    WordMatcher matcher(request.patterns);
    for (const TimedWord& word : aligned.words) {
        matcher.add(word);
    }
    // A find fits when its words do, or fit fairly amid words that fit well.
    const auto fits = [&](double start, double end) {
        std::size_t first = aligned.words.size(), last = 0;
        double least = 0;
        for (std::size_t i = 0; i < aligned.words.size(); ++i) {
            if (aligned.words[i].start >= start && aligned.words[i].end <= end) {
                first = std::min(first, i);
                last = i;
                least = std::min(least, aligned.fits[i]);
            }
        }
        if (least >= LEAST_ALIGNED_FIT) {
            return true;
        }
        double beside = 0;
        int count = 0;
        for (const std::size_t i : {first - 1, last + 1}) {
            if (first <= last && i < aligned.words.size() && !aligned.censored[i]) {
                beside += aligned.fits[i];
                ++count;
            }
        }
        return least >= LEAST_FIT_AMID_FITTING && count > 0 && beside / count >= 0;
    };
    for (FoundWord& found : matcher.found()) {
        if (!fits(found.start, found.end)) {
            return std::nullopt;
        }
        found.aligned = true;
        finds.push_back(std::move(found));
    }
    // A censored word has no spelling to judge: the words around it must fit.
    std::vector<double> spoken_fits;
    for (std::size_t i = 0; i < aligned.words.size(); ++i) {
        if (!aligned.censored[i]) {
            spoken_fits.push_back(aligned.fits[i]);
        }
    }
    std::sort(spoken_fits.begin(), spoken_fits.end());
    const bool context_fits = spoken_fits.empty() || spoken_fits[spoken_fits.size() / 2] >= LEAST_ALIGNED_FIT;
    for (std::size_t i = 0; i < aligned.words.size(); ++i) {
        if (!aligned.censored[i] || (i > 0 && aligned.censored[i - 1])) {
            continue;
        }
        const TimedWord& word = aligned.words[i];
        const double length = word.end - word.start;
        if (!context_fits || length < SHORTEST_CENSORED_SECONDS || length > LONGEST_CENSORED_SECONDS) {
            return std::nullopt;
        }
        finds.push_back({*request.censored, word.start, word.end, std::nullopt, false, "", -1, true, {}});
    }
    return finds;
}

// A passage of a text without times, between two anchors, too long to
// bleep whole: its words are left as they are.
bool left_out(const CueText& cue, bool passage)
{
    return passage && cue.end - cue.start > LONGEST_ALIGNED_CUE_SECONDS;
}

std::string cue_warning(const CueText& cue, const std::string& name, bool passage)
{
    const std::string at = format_time(std::llround(cue.start * 1e9));
    if (!passage) {
        return cue.origin + ": the cue at " + at + " \"" + cue_excerpt(cue) + "\" does not fit the sound of '" + name
            + "' (music, other words, or far from its speech): its whole cue is bleeped";
    }
    return cue.origin + ": the passage \"" + cue_excerpt(cue) + "\" (heard somewhere from " + at + " to "
        + format_time(std::llround(cue.end * 1e9)) + ") could not be aligned to the sound of '" + name + "'"
        + (left_out(cue, passage) ? ": its words are not bleeped; check it, or give --listen"
                                  : ": all of it is bleeped");
}

// Every pronunciation of the cues' words: from --dict files first, then the
// model's dictionary, else guessed by eSpeak NG; a word without any is a
// slot in its cue's grammar.
std::vector<Pronunciation> pronunciations_of(const std::vector<CueText>& cues, const Options& options,
                                             const std::string& model_dir)
{
    std::set<std::string> words;
    for (const CueText& cue : cues) {
        for (const std::string& written : cue.written) {
            if (std::string word = normalise_word(written); !word.empty()) {
                words.insert(std::move(word));
            }
        }
    }
    std::vector<std::string> paths = options.dict_files;
    const std::string own = file_beside_model(model_dir, ".dict");
    if (own.empty()) {
        throw bad_input("no pronouncing dictionary (*.dict) beside the model in '" + model_dir
                        + "' to align the text with (install Debian's pocketsphinx-en-us)");
    }
    paths.push_back(own);
    std::vector<std::unique_ptr<TextInput>> files;
    std::vector<Dictionary> dictionaries;
    for (const std::string& path : paths) {
        files.push_back(std::make_unique<TextInput>(path, "dictionary", DICTIONARY_LIMITS));
        dictionaries.push_back({path, files.back().get()});
    }
    std::vector<Pronunciation> pronunciations;
    const std::map<std::string, std::vector<std::string>> known = look_up_words(words, dictionaries);
    for (const std::string& word : words) {
        if (const auto found = known.find(word); found != known.end()) {
            for (const std::string& phones : found->second) {
                pronunciations.push_back({word, phones});
            }
        } else if (std::optional<std::string> guessed = guess_pronunciation(word)) {
            pronunciations.push_back({word, *guessed});
        }
    }
    return pronunciations;
}

} // namespace

void align_cue_finds(const WordRequest& request, const TranscriptFinds& read, const Options& options,
                     WordFindings& findings)
{
    const std::vector<CueText>& cues = read.cues;
    if (cues.empty()) {
        return;
    }
    const bool passages = request.plain_text.has_value();
    const std::string model_dir = options.model_dir.empty() ? DEFAULT_MODEL_DIR : options.model_dir;
    check_adaptation(options.adaptation, model_dir);
    const std::vector<Pronunciation> pronunciations = pronunciations_of(cues, options, model_dir);
    // No more aligners (a dictionary each) than there are cues to align; made
    // one after another, as loading a model is not safe on several threads.
    std::vector<std::unique_ptr<Aligner>> owned;
    std::vector<Aligner*> aligners;
    for (std::size_t j = 0; j < std::max<std::size_t>(1, std::min<std::size_t>(options.jobs, cues.size())); ++j) {
        owned.push_back(make_pocketsphinx_aligner({model_dir, pronunciations, options.adaptation}));
        aligners.push_back(owned.back().get());
    }
    // A video's subtitles align against its sound in their language, or its default sound.
    std::optional<InputFile> input(std::in_place, options.input);
    if (input->decoded() != nullptr) {
        const int stream = audio_stream_in_language(options.input, read.language);
        input.emplace(options.input, media_audio_fallback({std::to_string(stream)}));
    }
    const std::vector<AlignedCue> aligned = align_cues(*input, cues, aligners);

    std::vector<FoundWord> found;
    std::vector<const CueText*> unfitted;
    for (std::size_t c = 0; c < cues.size(); ++c) {
        if (std::optional<std::vector<FoundWord>> placed = aligned_finds(request, aligned[c])) {
            found.insert(found.end(), placed->begin(), placed->end());
            continue;
        }
        unfitted.push_back(&cues[c]);
        if (cues[c].censored && !left_out(cues[c], passages)) {
            found.push_back({*request.censored, cues[c].start, cues[c].end, std::nullopt, true, "", -1, false, {}});
        }
    }
    // The finds of the cues aligned are replaced; those of the others, and
    // finds no cue holds whole (a phrase across two cues), stay.
    for (const FoundWord& find : findings.found) {
        const bool replaced = std::any_of(cues.begin(), cues.end(), [&](const CueText& cue) {
            const bool fitted = std::find(unfitted.begin(), unfitted.end(), &cue) == unfitted.end();
            return in_cue(find, cue) && (fitted || left_out(cue, passages));
        });
        if (!replaced) {
            found.push_back(find);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const FoundWord& a, const FoundWord& b) { return a.start < b.start; });
    findings.found = std::move(found);
    for (std::size_t i = 0; i < unfitted.size() && i < NAMED_CUES; ++i) {
        findings.warnings.push_back(cue_warning(*unfitted[i], options.input, passages));
    }
    if (unfitted.size() > NAMED_CUES) {
        findings.warnings.push_back(std::to_string(unfitted.size() - NAMED_CUES) + " more "
                                    + (passages ? "passages" : "cues") + " do not fit the sound (see the labels)");
    }
}

} // namespace zendrik_mask
