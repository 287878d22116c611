// SPDX-License-Identifier: ISC
#include "cleaned_subtitles.h"

#include "cues.h"
#include "errors.h"
#include "text.h"
#include "text_input.h"
#include "transcript.h"
#include "word_sources.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <optional>

namespace zendrik_mask {

namespace {

// The transcript is read twice, for the words and then for this copy: it
// must be a file of subtitles. Returns whether it is SubRip, else WebVTT.
bool check_transcript_is_subtitles(const Options& options)
{
    const std::string& name = options.transcript;
    // A missing file, a folder or a device is named as its reader names it.
    check_text_input(name, "transcript");
    struct stat status {};
    if (stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        throw bad_input("--write-subtitles: transcript '" + name + "' must be a file to read again, not a pipe");
    }
    std::optional<TranscriptFormat> format;
    if (!is_plain_text(options)) {
        format = transcript_format_named(options.transcript_format);
        if (!format) {
            std::ifstream in(name, std::ios::binary);
            std::string start(64 * 1024, '\0');
            in.read(start.data(), static_cast<std::streamsize>(start.size()));
            start.resize(static_cast<std::size_t>(in.gcount()));
            format = detect_transcript_format(start, name);
        }
    }
    if (format != TranscriptFormat::srt && format != TranscriptFormat::vtt) {
        throw bad_input("--write-subtitles: transcript '" + name
                        + "' is not subtitles (SRT or WebVTT), which is what it writes cleaned");
    }
    // Its cues are found and masked as UTF-8 bytes.
    std::ifstream in(name, std::ios::binary);
    std::string start(2, '\0');
    in.read(start.data(), 2);
    if (in.gcount() == 2 && (start == "\xFF\xFE" || start == "\xFE\xFF")) {
        throw bad_input("--write-subtitles: transcript '" + name
                        + "' is UTF-16; convert it to UTF-8 (iconv -f UTF-16 -t UTF-8)");
    }
    return format == TranscriptFormat::srt;
}

// The transcript as written, each cue's text (the lines after its times, up
// to where its reader ends the cue) cleaned.
std::string cleaned_transcript(const std::string& name, const SubtitleMasker& masker, bool srt)
{
    std::ifstream in(name, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        throw bad_input("cannot read transcript '" + name + "' again");
    }
    // Where the line at `at` ends, and where the next one starts.
    const auto line_at = [&](std::size_t at) {
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        const std::size_t next = text.compare(end, 2, "\r\n") == 0 ? end + 2 : std::min(end + 1, text.size());
        return std::pair(end, next);
    };
    std::vector<TextEdit> edits;
    std::size_t number = 1;
    // Its reader skips a UTF-8 byte order mark, which may stand before the first cue's times.
    for (std::size_t at = starts_with(text, "\xEF\xBB\xBF") ? 3 : 0; at < text.size();) {
        auto [end, next] = line_at(at);
        const std::string_view line(text.data() + at, end - at);
        at = next;
        if (!is_cue_times(line)) {
            ++number;
            continue;
        }
        const auto [start_time, end_time] = parse_cue_times(Line{line, number++}, name);
        // WebVTT's cue ends at an empty line; SubRip's at a blank one, or
        // where the next cue starts when the blank line was left out.
        const auto ends_cue = [&](std::size_t from) {
            const auto [from_end, next_line] = line_at(from);
            const std::string_view here(text.data() + from, from_end - from);
            const std::string_view after(text.data() + next_line, line_at(next_line).first - next_line);
            return srt ? is_blank(here) || is_cue_number(here, after) : here.empty();
        };
        const std::size_t cue_begin = at;
        while (at < text.size() && !ends_cue(at)) {
            at = line_at(at).second;
            ++number;
        }
        const std::string_view cue(text.data() + cue_begin, at - cue_begin);
        for (TextEdit& edit : masker.edits(cue, CueMarkup::text, start_time, end_time)) {
            edits.push_back({cue_begin + edit.begin, cue_begin + edit.end, std::move(edit.replacement)});
        }
    }
    return apply_edits(text, edits);
}

} // namespace

void check_subtitle_options(const Options& options)
{
    parse_subtitle_mask(options.subtitle_mask);
    if (options.subtitles_out.empty() || options.subtitles) {
        return;
    }
    if (options.transcript.empty()) {
        throw bad_input(
            "--write-subtitles writes the subtitles read cleaned: give --subtitles, or --transcript "
            "with an SRT or WebVTT file");
    }
    check_transcript_is_subtitles(options);
}

SubtitleEdits subtitle_edits(const SubtitleMasker& masker)
{
    if (!masker.masks_anything()) {
        return {};
    }
    return [&masker](std::string_view text, bool ass, double start, double end) {
        return masker.edits(text, ass ? CueMarkup::ass_event : CueMarkup::text, start, end);
    };
}

std::string cleaned_subtitles_text(const Review& review)
{
    const Options& options = *review.options;
    const SubtitleMasker masker(review.request.patterns, review.found, review.request.censored,
                                parse_subtitle_mask(options.subtitle_mask));
    if (options.subtitles) {
        return cleaned_input_subtitles(options.input, *options.subtitles, subtitle_edits(masker));
    }
    return cleaned_transcript(options.transcript, masker, check_transcript_is_subtitles(options));
}

} // namespace zendrik_mask
