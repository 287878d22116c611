// SPDX-License-Identifier: ISC
#include "word_search.h"

#include "adaptation.h"
#include "errors.h"
#include "host.h"
#include "media_job.h"
#include "pronunciation_guess.h"
#include "pronunciations.h"
#include "recogniser_pool.h"
#include "speech_search.h"
#include "text_input.h"
#include "transcript.h"
#include "word_sources.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace zendrik_mask {

namespace {

// Transcripts round their times; a word may end a little after the audio.
constexpr double TRANSCRIPT_SLACK_SECONDS = 0.1;

// A time for a message, whatever a transcript claimed.
std::string time_for_message(double seconds)
{
    if (std::isfinite(seconds) && seconds >= 0 && seconds < 1e9) {
        return format_time(std::llround(seconds * 1e9));
    }
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

WordFindings find_in_transcript(const TranscriptFinds& read, double seconds, const std::string& name)
{
    if (const auto& last = read.last; last && seconds >= 0 && last->end > seconds + TRANSCRIPT_SLACK_SECONDS) {
        throw bad_input(last->origin + ": '" + last->text + "' ends at " + time_for_message(last->end)
                        + ", past the end of the audio (" + time_for_message(seconds) + "); is '" + name
                        + "' the transcript of this recording?");
    }
    WordFindings findings;
    findings.warnings = read.warnings;
    findings.found = read.found;
    return findings;
}

// The words heard in the input; in each of its masked audio streams when it
// has several, for a commentary may say what the main sound does not: each
// with the stream's index, -1 for a file of one.
std::vector<std::pair<int, std::vector<TimedWord>>> hear_every_stream(const Options& options,
                                                                      const SpeechSearch& search)
{
    InputFile input(options.input);
    std::vector<int> streams{-1};
    if (input.decoded() != nullptr) {
        const std::vector<int> masked = masked_media_streams(options.input, options.streams);
        streams = masked.size() > 1 ? masked : streams;
    }
    std::vector<std::pair<int, std::vector<TimedWord>>> heard;
    for (const int stream : streams) {
        // The registered reader opens the first masked stream.
        std::optional<InputFile> other;
        if (stream != streams.front()) {
            other.emplace(options.input, media_audio_fallback({std::to_string(stream)}));
        }
        heard.emplace_back(stream, search_speech(other ? *other : input, search));
    }
    return heard;
}

// What the decoders are made from. Planned once for all the files of a
// process that ask for the same words the same way, and keyed by all it is
// planned from: reading the model's dictionary takes longer than decoding a
// short file.
struct PlannedDecoding {
    std::string key;
    Decoding setup;
    std::vector<Pronunciation> guessed;
};

std::shared_ptr<const PlannedDecoding> plan_for(const WordRequest& request, const Options& options)
{
    const std::string model_dir = options.model_dir.empty() ? DEFAULT_MODEL_DIR : options.model_dir;
    struct stat model_status {};
    if (stat(model_dir.c_str(), &model_status) != 0 || !S_ISDIR(model_status.st_mode)) {
        throw bad_input("no acoustic model folder '" + model_dir + "'"
                        + (options.model_dir.empty() ? " (install Debian's pocketsphinx-en-us)" : ""));
    }
    check_adaptation(options.adaptation, model_dir);
    std::string key = model_dir + '\n' + std::to_string(options.sensitivity) + '\n' + options.adaptation + '\n';
    for (const std::string& path : options.dict_files) {
        key += "dict " + path + '\n';
    }
    for (const WordPattern& pattern : request.patterns) {
        key += pattern.text + '\t' + (pattern.sensitivity ? std::to_string(*pattern.sensitivity) : "") + '\n';
    }
    static std::mutex planning;
    static std::shared_ptr<const PlannedDecoding> last;
    const std::lock_guard<std::mutex> hold(planning);
    if (last && last->key == key) {
        return last;
    }
    std::vector<std::unique_ptr<TextInput>> files;
    std::vector<Dictionary> dictionaries;
    std::vector<std::string> paths = options.dict_files;
    // The decoder hears every word of its language model, so it needs the
    // model's own dictionary and language model whatever --dict adds.
    const std::string own = file_beside_model(model_dir, ".dict");
    const std::string language_model = file_beside_model(model_dir, ".lm.bin");
    if (own.empty() || language_model.empty()) {
        throw bad_input("no pronouncing dictionary (*.dict) and language model (*.lm.bin) beside the model in '"
                        + model_dir + "' (install Debian's pocketsphinx-en-us)");
    }
    paths.push_back(own);
    for (const std::string& path : paths) {
        files.push_back(std::make_unique<TextInput>(path, "dictionary", DICTIONARY_LIMITS));
        dictionaries.push_back({path, files.back().get()});
    }
    DecodingPlan plan = plan_decoding(request.patterns, dictionaries, options.sensitivity, guess_pronunciation);
    last = std::make_shared<const PlannedDecoding>(PlannedDecoding{
        key,
        {model_dir, own, language_model, std::move(plan.pronunciations), std::move(plan.listed), options.adaptation},
        std::move(plan.guessed)});
    return last;
}

// The finds of the recogniser; `heard_first`, when given, gets every word it
// heard in the first stream, for a text without times to be anchored on.
WordFindings find_by_recogniser(const WordRequest& request, const Options& options,
                                std::vector<TimedWord>* heard_first = nullptr)
{
    const std::shared_ptr<const PlannedDecoding> planned = plan_for(request, options);
    SpeechSearch search;
    search.jobs = options.jobs;
    search.show_progress = !options.quiet && isatty(STDERR_FILENO);
    // Decoders outlive the file: the next one of a batch decodes with them.
    search.make_recogniser = [&planned] {
        return process_recognisers().lend(planned->key, [&planned] { return make_pocketsphinx(planned->setup); });
    };
    WordFindings findings;
    for (auto& [stream, heard] : hear_every_stream(options, search)) {
        // The list matched against every word heard, as against a transcript's;
        // a find is kept when its least sure word is sure enough for its line
        // and fits its sound alone well enough.
        WordMatcher matcher(request.patterns);
        for (const TimedWord& word : heard) {
            matcher.add(word);
        }
        for (FoundWord& found : matcher.found()) {
            const double asked = request.patterns[found.pattern].sensitivity.value_or(options.sensitivity);
            found.stream = stream;
            (sure_enough(found, asked) ? findings.found : findings.near_misses).push_back(std::move(found));
        }
        if (heard_first && heard_first->empty()) {
            *heard_first = std::move(heard);
        }
    }
    for (std::vector<FoundWord>* list : {&findings.found, &findings.near_misses}) {
        std::stable_sort(list->begin(), list->end(),
                         [](const FoundWord& a, const FoundWord& b) { return a.start < b.start; });
    }
    for (const Pronunciation& guessed : planned->guessed) {
        findings.warnings.push_back("'" + guessed.word + "' is in no pronunciation dictionary: guessed as \""
                                    + guessed.phones + "\"; if it is said otherwise, give --dict FILE with a line \""
                                    + guessed.word + " " + guessed.phones + "\" corrected");
    }
    return findings;
}

// A --words argument: a file by that name, else, for a bare name such as
// "profanity", the list of that name shipped with the program.
std::string word_list_path(const std::string& given)
{
    struct stat status {};
    if (given.find('/') != std::string::npos || stat(given.c_str(), &status) == 0) {
        return given;
    }
    const std::string file = given + ".txt";
    std::vector<std::string> names;
    for (const std::string& dir : shipped_word_list_dirs()) {
        if (stat((dir + "/" + file).c_str(), &status) == 0) {
            return dir + "/" + file;
        }
        if (DIR* listing = opendir(dir.c_str())) {
            while (const dirent* entry = readdir(listing)) {
                const std::string name = entry->d_name;
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) {
                    names.push_back(name.substr(0, name.size() - 4));
                }
            }
            closedir(listing);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::string shipped;
    for (const std::string& name : names) {
        shipped += (shipped.empty() ? "" : ", ") + name;
    }
    throw bad_input("no word list '" + given + "': no such file, nor a list shipped with zendrik-mask"
                    + (shipped.empty() ? "" : " (" + shipped + ")"));
}

} // namespace

WordRequest read_word_request(const Options& options)
{
    WordRequest request;
    for (const std::string& word : options.words) {
        request.patterns.push_back(parse_word(word, "--word " + word));
    }
    for (const std::string& given : options.word_files) {
        const std::string path = word_list_path(given);
        TextInput in(path, "word list", WORD_LIST_LIMITS);
        std::vector<WordPattern> listed = parse_word_list(in, path);
        if (listed.empty()) {
            throw bad_input("word list '" + path + "' holds no words");
        }
        request.patterns.insert(request.patterns.end(), listed.begin(), listed.end());
    }
    if (!options.transcript.empty() && options.subtitles) {
        throw bad_input("give --transcript or --subtitles, not both");
    }
    if (!options.transcript.empty()) {
        if (request.patterns.empty()) {
            throw bad_input("--transcript needs words to find: give --word or --words");
        }
        if (is_plain_text(options)) {
            request.plain_text = read_plain_text(options.transcript);
        } else {
            request.transcript = read_transcript_file(options, request.patterns);
        }
        request.source = "transcript";
    } else if (options.subtitles) {
        if (request.patterns.empty()) {
            throw bad_input("--subtitles needs words to find: give --word or --words");
        }
        request.transcript = read_subtitle_words(options, request.patterns);
        request.source = "subtitles";
    }
    const bool censored = request.transcript
        ? std::any_of(request.transcript->cues.begin(), request.transcript->cues.end(),
                      [](const CueText& cue) { return cue.censored; })
        : request.plain_text
            && std::any_of(request.plain_text->begin(), request.plain_text->end(),
                           [](const TextWord& word) { return is_censored(word.written); });
    if (censored) {
        request.censored = request.patterns.size();
        request.patterns.push_back({{}, "[censored]", std::nullopt, "a censored word of a caption"});
    }
    if (!request.transcript && !request.plain_text) {
        request.source = "recogniser";
    }
    return request;
}

WordFindings find_words(const WordRequest& request, const Options& options, double seconds)
{
    if (request.patterns.empty()) {
        return {};
    }
    const bool text = request.transcript || request.plain_text;
    WordFindings findings;
    // A text without times is anchored on what the recogniser heard, whose
    // own finds are kept only with --listen.
    std::vector<TimedWord> heard;
    if (!text || options.listen || request.plain_text) {
        findings = find_by_recogniser(request, options, request.plain_text ? &heard : nullptr);
        for (FoundWord& found : findings.found) {
            found.source = text ? "recogniser" : "";
        }
        if (!options.listen && text) {
            findings.found.clear();
        }
    }
    if (text) {
        const TranscriptFinds read = request.transcript
            ? *request.transcript
            : place_plain_text(*request.plain_text, request.patterns, heard, seconds);
        // A film's subtitles may run past its sound; a transcript may not.
        WordFindings from_text
            = find_in_transcript(read, request.source == "subtitles" ? -1 : seconds, options.transcript);
        align_cue_finds(request, read, options, from_text);
        // What the recogniser heard where the text has the same word adds nothing.
        const auto read_too = [&](const FoundWord& heard_find) {
            return std::any_of(from_text.found.begin(), from_text.found.end(), [&](const FoundWord& read_find) {
                return read_find.pattern == heard_find.pattern && read_find.start < heard_find.end
                    && heard_find.start < read_find.end;
            });
        };
        findings.found.erase(std::remove_if(findings.found.begin(), findings.found.end(), read_too),
                             findings.found.end());
        findings.found.insert(findings.found.end(), from_text.found.begin(), from_text.found.end());
        findings.warnings.insert(findings.warnings.end(), from_text.warnings.begin(), from_text.warnings.end());
        std::stable_sort(findings.found.begin(), findings.found.end(),
                         [](const FoundWord& a, const FoundWord& b) { return a.start < b.start; });
    }
    // The aligner of cues uses --model too.
    std::string given;
    for (const std::string& option : options.recogniser_options) {
        given += option == "--model" || given.empty() ? "" : ", ";
        given += option == "--model" ? "" : option;
    }
    if (request.transcript && !options.listen && !given.empty()) {
        findings.warnings.push_back(given + ": for the built-in recogniser only, and the words come from the "
                                            "transcript: ignored (give --listen to hear the sound too)");
    }
    if (findings.found.empty()) {
        const std::size_t listed = request.patterns.size();
        findings.warnings.push_back((listed == 1 ? std::string("the word to find was not found")
                                                 : "none of the " + std::to_string(listed) + " words to find was found")
                                    + " in '" + options.input + "'");
    }
    return findings;
}

std::vector<TimeRange> word_ranges(const WordRequest& request, std::vector<FoundWord>& found, double pad,
                                   double seconds)
{
    std::vector<TimeRange> ranges;
    std::vector<FoundWord> kept;
    for (const FoundWord& word : found) {
        const double start = std::max(0.0, word.start - pad);
        const double end = seconds >= 0 ? std::min(seconds, word.end + pad) : word.end + pad;
        const int64_t start_ns = std::llround(start * 1e9);
        const int64_t end_ns = std::llround(end * 1e9);
        if (start_ns >= end_ns) {
            continue;
        }
        ranges.push_back(
            {start_ns, end_ns,
             "'" + request.patterns[word.pattern].text + "' at " + format_time(start_ns) + " (" + request.source + ")",
             ""});
        kept.push_back(word);
    }
    found = std::move(kept);
    return ranges;
}

} // namespace zendrik_mask
