// SPDX-License-Identifier: ISC
#include "word_sources.h"

#include "cue_text.h"
#include "errors.h"
#include "media_job.h"
#include "text.h"
#include "text_anchors.h"
#include "text_input.h"
#include "transcript.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>

namespace zendrik_mask {

namespace {

// Only the finds are kept, the cues that hold them, and the word that ends
// last, to check the text against the audio's length once it is known.
class TranscriptMatcher {
public:
    explicit TranscriptMatcher(const std::vector<WordPattern>& patterns) : matcher_(patterns) {}
    void add(TimedWord& word)
    {
        const std::size_t found_before = matcher_.found_count();
        matcher_.add(word);
        cues_.add(word, matcher_.found_count() > found_before);
        if (!last_ || word.end > last_->end) {
            last_ = std::move(word);
        }
    }
    void finish(TranscriptFinds& finds)
    {
        finds.found = matcher_.found();
        finds.cues = cues_.finish();
        finds.last = std::move(last_);
    }

private:
    WordMatcher matcher_;
    CueCollector cues_;
    std::optional<TimedWord> last_;
};

// A video or audio file given as a transcript is refused by what its first
// bytes say, before it is read as text.
void refuse_media_file(std::ifstream& in, const std::string& name)
{
    std::array<char, 12> start{};
    in.read(start.data(), start.size());
    const std::string_view head(start.data(), static_cast<std::size_t>(in.gcount()));
    in.clear();
    in.seekg(0);
    const auto at
        = [&](std::size_t offset, std::string_view magic) { return head.substr(offset, magic.size()) == magic; };
    if (at(0, "\x1A\x45\xDF\xA3") || at(4, "ftyp") || at(0, "RIFF") || at(0, "OggS") || at(0, "fLaC") || at(0, "ID3")
        || at(0, "FORM")) {
        throw bad_input("transcript '" + name + "' is a media file, not a transcript; to use the subtitles a video "
                        "holds, give --subtitles (see --help)");
    }
}

} // namespace

// The transcript, read as a stream and matched as it is read: only the
// finds are kept, and the word that ends last, to check the transcript
// against the audio's length once it is known.
TranscriptFinds read_transcript_file(const Options& options, const std::vector<WordPattern>& patterns)
{
    check_text_input(options.transcript, "transcript");
    std::ifstream in(options.transcript, std::ios::binary);
    if (!in) {
        const int error = errno;
        throw bad_input("cannot read transcript '" + options.transcript + "': " + std::strerror(error));
    }
    refuse_media_file(in, options.transcript);
    std::optional<TranscriptFormat> format;
    if (!options.transcript_format.empty()) {
        format = transcript_format_named(options.transcript_format);
        if (!format) {
            throw bad_input("unknown --transcript-format '" + options.transcript_format
                            + "'; known: " + transcript_format_names(", "));
        }
    }
    TranscriptMatcher matcher(patterns);
    TranscriptFinds finds;
    finds.warnings = read_transcript(in, format, options.transcript, [&](TimedWord&& word) { matcher.add(word); });
    matcher.finish(finds);
    return finds;
}

TranscriptFinds read_subtitle_words(const Options& options, const std::vector<WordPattern>& patterns)
{
    TranscriptMatcher matcher(patterns);
    TranscriptFinds finds;
    const InputSubtitles subtitles = read_input_subtitles(
        options.input, *options.subtitles, [&](double start, double end, const std::string& text) {
            std::vector<std::string> words;
            for (std::size_t at = 0; at < text.size();) {
                const std::size_t begin = text.find_first_not_of(" \t\r\n", at);
                if (begin == std::string::npos) {
                    break;
                }
                const std::size_t stop = std::min(text.find_first_of(" \t\r\n", begin), text.size());
                words.push_back(text.substr(begin, stop - begin));
                at = stop;
            }
            for (std::string& written : words) {
                TimedWord word{std::move(written), start, end, std::nullopt, words.size() > 1, "", true};
                word.origin = "'" + options.input + "' subtitles";
                matcher.add(word);
            }
        });
    matcher.finish(finds);
    finds.language = subtitles.language;
    finds.subtitle_stream = subtitles.stream;
    return finds;
}

bool is_plain_text(const Options& options)
{
    if (!options.transcript_format.empty()) {
        return lower_case(options.transcript_format) == "text";
    }
    const std::string name = lower_case(options.transcript);
    if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".txt") != 0) {
        return false;
    }
    // Subtitles or JSON saved as .txt are what their content says; a pipe
    // is read once, as text.
    struct stat status {};
    if (stat(options.transcript.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return true;
    }
    std::ifstream in(options.transcript, std::ios::binary);
    std::string start(64 * 1024, '\0');
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(in.gcount()));
    try {
        detect_transcript_format(start, options.transcript);
        return false;
    } catch (const Error&) {
        return true;
    }
}

std::vector<TextWord> read_plain_text(const std::string& path)
{
    // A published transcript: a book's length is a few MB.
    TextInput in(path, "transcript", {LONGEST_LINE, 64 * 1024 * 1024});
    std::vector<TextWord> words;
    std::string line;
    for (std::size_t number = 1; read_line(in, line); ++number) {
        std::string_view text = line;
        if (number == 1 && starts_with(text, UTF8_BOM)) {
            text.remove_prefix(UTF8_BOM.size());
        }
        if (const std::size_t bad = invalid_utf8_at(text); bad != std::string_view::npos) {
            throw bad_input(path + ":" + std::to_string(number) + ": not UTF-8 text");
        }
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t begin = text.find_first_not_of(WHITESPACE, at);
            if (begin == std::string_view::npos) {
                break;
            }
            const std::size_t stop = std::min(text.find_first_of(WHITESPACE, begin), text.size());
            words.push_back({std::string(text.substr(begin, stop - begin)), path + ":" + std::to_string(number)});
            at = stop;
        }
    }
    if (words.empty()) {
        throw bad_input("transcript '" + path + "' holds no words");
    }
    return words;
}

TranscriptFinds place_plain_text(const std::vector<TextWord>& text, const std::vector<WordPattern>& patterns,
                                 const std::vector<TimedWord>& heard, double seconds)
{
    TranscriptMatcher matcher(patterns);
    for (TimedWord& word : anchor_text(text, heard, seconds)) {
        matcher.add(word);
    }
    TranscriptFinds finds;
    matcher.finish(finds);
    finds.last.reset();
    // Anchored words were heard where the text has them: placed, not guessed.
    for (FoundWord& found : finds.found) {
        found.aligned = true;
        found.confidence.reset();
    }
    return finds;
}

} // namespace zendrik_mask
