// SPDX-License-Identifier: ISC
// The formats by name and by content, and the reader each one is read with.
#include "transcript.h"

#include "cues.h"
#include "json_fields.h"
#include "readers.h"
#include "text.h"
#include "transcript_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
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
    const std::vector<Line> lines = split_lines(text);
    const auto first = std::find_if_not(lines.begin(), lines.end(), [](const Line& l) { return is_blank(l.text); });
    if (first == lines.end()) {
        throw bad_input(name + ": empty transcript");
    }
    const std::string_view start = trim(first->text, WHITESPACE);
    if (starts_with(start, "WEBVTT")) {
        return TranscriptFormat::vtt;
    }
    if (start.front() == '{' || start.front() == '[') {
        const auto values = json_values(text);
        const json value = parse_json(text, values.front().first, values.front().second, name);
        for (const auto& [key, format] : {std::pair("word_segments", TranscriptFormat::whisperx),
                                          std::pair("transcription", TranscriptFormat::whisper_cpp),
                                          std::pair("segments", TranscriptFormat::whisper)}) {
            if (value.is_object() && value.contains(key)) {
                return format;
            }
        }
        // Vosk's results come alone, in an array or one after another.
        const json& result = value.is_array() && !value.empty() ? value.front() : value;
        if (result.is_object()
            && (result.contains("result") || result.contains("text") || result.contains("partial"))) {
            return TranscriptFormat::vosk;
        }
        throw bad_input(name + ": JSON of no transcript format known here (" + transcript_format_names(", ") + ")");
    }
    const auto index = static_cast<std::size_t>(first - lines.begin());
    if (is_cue_times(*first) || is_cue_number(lines, index)) {
        return TranscriptFormat::srt;
    }
    throw bad_input(name + ": not a transcript format known here (" + transcript_format_names(", ")
                    + "); name it with --transcript-format");
}

Transcript read_transcript(std::string_view text, TranscriptFormat format, const std::string& name)
{
    if (const std::size_t at = invalid_utf8_at(text); at != std::string_view::npos) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[at]));
        throw bad_input(at_line(name, line_at(text, at)) + ": not UTF-8 text (byte " + byte + ")");
    }
    Transcript transcript;
    try {
        switch (format) {
        case TranscriptFormat::whisper: read_whisper(text, name, transcript); break;
        case TranscriptFormat::whisperx: read_whisperx(text, name, transcript); break;
        case TranscriptFormat::whisper_cpp: read_whisper_cpp(text, name, transcript); break;
        case TranscriptFormat::vosk: read_vosk(text, name, transcript); break;
        case TranscriptFormat::srt: read_srt(text, name, transcript); break;
        case TranscriptFormat::vtt: read_vtt(text, name, transcript); break;
        }
    } catch (const json::exception& e) {
        // Checked before every access; this is a last guard.
        throw bad_input(name + ": " + json_message(e.what()));
    }
    return transcript;
}

} // namespace zendrik_mask
