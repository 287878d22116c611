// SPDX-License-Identifier: ISC
// The formats by name and by content, and the reader each one is read with.
#include "transcript.h"

#include "cues.h"
#include "json_fields.h"
#include "json_stream.h"
#include "readers.h"
#include "text.h"
#include "text_source.h"
#include "transcript_text.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <utility>

namespace zendrik_mask {

namespace {

using nlohmann::json;

constexpr std::pair<TranscriptFormat, std::string_view> FORMAT_NAMES[] = {
    {TranscriptFormat::whisper, "whisper"},
    {TranscriptFormat::whisperx, "whisperx"},
    {TranscriptFormat::whisper_cpp, "whisper.cpp"},
    {TranscriptFormat::vosk, "vosk"},
    {TranscriptFormat::srt, "srt"},
    {TranscriptFormat::vtt, "vtt"},
};

bool has(const std::vector<std::string>& keys, std::string_view key)
{
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

TranscriptFormat json_format(std::string_view text, bool whole, const std::string& name)
{
    const JsonOutline outline = json_outline(text, whole, name);
    const std::vector<std::string>& keys = outline.keys;
    if (outline.object && !outline.array) {
        if (has(keys, "word_segments")) {
            return TranscriptFormat::whisperx;
        }
        if (has(keys, "transcription")) {
            return TranscriptFormat::whisper_cpp;
        }
        if (has(keys, "segments")) {
            // WhisperX writes its segments first, words and all, and its
            // word_segments after them: its words have a "score".
            const bool scored = has(outline.word_keys, "score") && !has(outline.word_keys, "probability");
            return !outline.complete && scored ? TranscriptFormat::whisperx : TranscriptFormat::whisper;
        }
        // Whisper's "text" comes first and holds the whole transcript; Vosk's
        // follows its words.
        if (!outline.complete && outline.open_key == "text" && keys.size() == 1) {
            return TranscriptFormat::whisper;
        }
    }
    // Vosk's results come alone, in an array or one after another. One
    // without words holds only "text", which is Vosk's only once it ends.
    if (outline.object
        && (has(keys, "result") || has(keys, "partial") || (has(keys, "text") && outline.keys_complete))) {
        return TranscriptFormat::vosk;
    }
    if (outline.object && !outline.keys_complete) {
        throw bad_input(name + ": its first 64 KiB do not tell its format; name it with --transcript-format");
    }
    throw bad_input(name + ": JSON of no transcript format known here (" + transcript_format_names(", ") + ")");
}

TranscriptFormat detect_format(TextSource& source)
{
    const std::string_view text = source.prefix();
    const std::string& name = source.name();
    const std::vector<Line> lines = split_lines(text);
    const auto first = std::find_if_not(lines.begin(), lines.end(), [](const Line& l) { return is_blank(l.text); });
    if (first == lines.end()) {
        throw bad_input(name + (source.whole() ? ": empty transcript" : ": no text in its first 64 KiB"));
    }
    const std::string_view start = trim(first->text, WHITESPACE);
    if (starts_with(start, "WEBVTT")) {
        return TranscriptFormat::vtt;
    }
    if (start.front() == '{' || start.front() == '[') {
        return json_format(text, source.whole(), name);
    }
    const std::string_view next = first + 1 != lines.end() ? first[1].text : std::string_view();
    if (is_cue_times(first->text) || is_cue_number(first->text, next)) {
        return TranscriptFormat::srt;
    }
    throw bad_input(name + ": not a transcript format known here (" + transcript_format_names(", ")
                    + "); name it with --transcript-format");
}

} // namespace

std::string transcript_format_names(const char* separator)
{
    std::string names;
    for (const auto& [format, name] : FORMAT_NAMES) {
        names += (names.empty() ? "" : separator) + std::string(name);
    }
    return names;
}

std::optional<TranscriptFormat> transcript_format_named(std::string_view name)
{
    for (const auto& [format, format_name] : FORMAT_NAMES) {
        if (format_name.size() == name.size()
            && std::equal(name.begin(), name.end(), format_name.begin(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; })) {
            return format;
        }
    }
    return std::nullopt;
}

TranscriptFormat detect_transcript_format(std::string_view text, const std::string& name)
{
    std::istringstream in{std::string(text)};
    TextSource source(in, name);
    return detect_format(source);
}

std::vector<std::string> read_transcript(std::istream& in, std::optional<TranscriptFormat> format,
                                         const std::string& name, const WordSink& sink)
{
    TextSource source(in, name);
    std::vector<std::string> warnings;
    try {
        switch (format ? *format : detect_format(source)) {
        case TranscriptFormat::whisper: read_whisper(source, sink, warnings); break;
        case TranscriptFormat::whisperx: read_whisperx(source, sink, warnings); break;
        case TranscriptFormat::whisper_cpp: read_whisper_cpp(source, sink, warnings); break;
        case TranscriptFormat::vosk: read_vosk(source, sink, warnings); break;
        case TranscriptFormat::srt: read_srt(source, sink, warnings); break;
        case TranscriptFormat::vtt: read_vtt(source, sink, warnings); break;
        }
    } catch (const json::exception& e) {
        // Checked before every access; this is a last guard.
        throw bad_input(name + ": " + json_message(e.what()));
    }
    return warnings;
}

Transcript read_transcript(std::string_view text, TranscriptFormat format, const std::string& name)
{
    std::istringstream in{std::string(text)};
    Transcript transcript;
    transcript.warnings
        = read_transcript(in, format, name, [&](TimedWord&& word) { transcript.words.push_back(std::move(word)); });
    return transcript;
}

} // namespace zendrik_mask
