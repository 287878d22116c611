// SPDX-License-Identifier: ISC
// zendrik-mask's transcript readers: the words, times and confidences each
// format gives, which format a text is in, and what a malformed one is told.
#include "transcript.h"

#include <gtest/gtest.h>

using namespace zendrik_mask;

namespace {

struct Expected {
    const char* text;
    double start;
    double end;
    double confidence; // -1: none
    bool whole_cue;
    const char* origin;
};

void expect_words(const std::string& transcript, TranscriptFormat format, const std::vector<Expected>& expected,
                  const std::vector<std::string>& warnings = {})
{
    const Transcript read = read_transcript(transcript, format, "talk");
    EXPECT_EQ(read.warnings, warnings);
    const std::vector<TimedWord>& words = read.words;
    ASSERT_EQ(words.size(), expected.size()) << transcript;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const TimedWord& word = words[i];
        const Expected& want = expected[i];
        SCOPED_TRACE(want.origin);
        EXPECT_EQ(word.text, want.text);
        EXPECT_DOUBLE_EQ(word.start, want.start);
        EXPECT_DOUBLE_EQ(word.end, want.end);
        EXPECT_DOUBLE_EQ(word.confidence.value_or(-1), want.confidence);
        EXPECT_EQ(word.whole_cue, want.whole_cue);
        EXPECT_EQ(word.origin, want.origin);
    }
}

TEST(MaskTranscript, ReadsWhisperAndWhisperX)
{
    expect_words(R"({"text": " Damn, it.", "segments": [
        {"id": 0, "text": " Damn, it.", "words": [
            {"word": " Damn,", "start": 0.5, "end": 0.92, "probability": 0.75},
            {"word": " it.", "start": 0.92, "end": 1.0}]},
        {"id": 1, "text": "", "words": []},
        {"text": " ok", "words": [{"text": " ok", "start": 2, "end": 2.5, "confidence": 0.5}]}]})",
                 TranscriptFormat::whisper,
                 {{" Damn,", 0.5, 0.92, 0.75, false, "talk: segments[0].words[0]"},
                  {" it.", 0.92, 1.0, -1, false, "talk: segments[0].words[1]"},
                  {" ok", 2, 2.5, 0.5, false, "talk: segments[2].words[0]"}});
    // Words WhisperX could not align have no times and cannot be bleeped: the user is told how many.
    expect_words(R"({"segments": [], "word_segments": [
        {"word": "Damn", "start": 1.25, "end": 1.5, "score": 0.9},
        {"word": "1999", "score": 0.2},
        {"word": "it", "start": 1.5, "end": 1.75, "score": 1},
        {"word": "42", "start": 2}]})",
                 TranscriptFormat::whisperx,
                 {{"Damn", 1.25, 1.5, 0.9, false, "talk: word_segments[0]"},
                  {"it", 1.5, 1.75, 1, false, "talk: word_segments[2]"}},
                 {"talk: 2 words have no times (WhisperX could not align them) and cannot be bleeped"});
}

TEST(MaskTranscript, JoinsWhisperCppTokensIntoWords)
{
    expect_words(R"({"transcription": [
        {"offsets": {"from": 0, "to": 2000}, "text": " Son of a", "tokens": [
            {"text": "[_BEG_]", "offsets": {"from": 0, "to": 0}, "p": 0.99},
            {"text": " Son", "offsets": {"from": 0, "to": 400}, "p": 0.8},
            {"text": "ofab", "offsets": {"from": 400, "to": 700}, "p": 0.4},
            {"text": "itch", "offsets": {"from": 700, "to": 1230}, "p": 0.6},
            {"text": "[_TT_61]", "offsets": {"from": 1230, "to": 1230}, "p": 0.5}]},
        {"offsets": {"from": 2000, "to": 3000}, "text": "!", "tokens": [
            {"text": "!", "offsets": {"from": 2000, "to": 2100}, "p": 0.7},
            {"text": " Gosh", "offsets": {"from": 2100, "to": 2500}}]},
        {"offsets": {"from": 3000, "to": 4500}, "text": " plain entry"}]})",
                 TranscriptFormat::whisper_cpp,
                 {{" Sonofabitch", 0, 1.23, 0.4, false, "talk: transcription[0].tokens[1]"},
                  {"!", 2, 2.1, 0.7, false, "talk: transcription[1].tokens[0]"},
                  {" Gosh", 2.1, 2.5, -1, false, "talk: transcription[1].tokens[1]"},
                  {"plain", 3, 4.5, -1, true, "talk: transcription[2]"},
                  {"entry", 3, 4.5, -1, true, "talk: transcription[2]"}});
}

TEST(MaskTranscript, ReadsVoskResultsAloneInArraysAndOneAfterAnother)
{
    const char* word = R"({"conf": 0.5, "end": 1.5, "start": 1.0, "word": "heck"})";
    expect_words(std::string(R"({"result": [)") + word + R"(], "text": "heck"})", TranscriptFormat::vosk,
                 {{"heck", 1, 1.5, 0.5, false, "talk: result[0]"}});
    expect_words(std::string(R"([{"text": ""}, {"result": [)") + word + "]}]", TranscriptFormat::vosk,
                 {{"heck", 1, 1.5, 0.5, false, "talk: [1].result[0]"}});
    // As Python scripts print Result(): pretty-printed, one after another.
    expect_words(
        std::string("{\"partial\": \"he\"}\n{\n  \"result\": [") + word + ",\n    " + word
            + "],\n  \"text\": \"heck heck\"\n}\n{\"text\": \"\"}\n",
        TranscriptFormat::vosk,
        {{"heck", 1, 1.5, 0.5, false, "talk:2: result[0]"}, {"heck", 1, 1.5, 0.5, false, "talk:2: result[1]"}});
}

TEST(MaskTranscript, ReadsSubRipCues)
{
    expect_words(
        "\xEF\xBB\xBF"
        "1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Oh</i> {\\an8}no,\r\nnot  again\r\n\r\n"
        "2\r\n01:00:00,250 --> 01:00:03,000 X1:10 X2:20\r\nWhat?!\r\n"
        "3\r\n01:00:04,000 --> 01:00:05,000\r\n\r\n",
        TranscriptFormat::srt,
        {{"Oh", 1, 2.5, -1, true, "talk:3"},
         {"no,", 1, 2.5, -1, true, "talk:3"},
         {"not", 1, 2.5, -1, true, "talk:4"},
         {"again", 1, 2.5, -1, true, "talk:4"},
         {"What?!", 3600.25, 3603, -1, false, "talk:8"}});
}

TEST(MaskTranscript, ReadsWebVttCuesAndTimestampTags)
{
    expect_words(
        "WEBVTT - talk\nKind: captions\n\nNOTE a note\nspanning lines\n\nSTYLE\n::cue { color: red }\n\n"
        "intro\n00:01.000 --> 00:02.000 align:start position:10%\n<v Ann>Tom &amp; Jerry</v>\n\n"
        "00:00:03.000 --> 00:00:06.000\n<c.red>Ne<00:00:03.500>ver</c> <00:00:04.000><c> gonna</c> give\n"
        "<00:00:05.000>you\n",
        TranscriptFormat::vtt,
        {{"Tom", 1, 2, -1, true, "talk:12"},
         {"&", 1, 2, -1, true, "talk:12"},
         {"Jerry", 1, 2, -1, true, "talk:12"},
         {"Never", 3, 4, -1, false, "talk:15"},
         {"gonna", 4, 5, -1, true, "talk:15"},
         {"give", 4, 5, -1, true, "talk:15"},
         {"you", 5, 6, -1, false, "talk:16"}});
}

TEST(MaskTranscript, DetectsTheFormatFromTheContent)
{
    const std::pair<const char*, TranscriptFormat> cases[] = {
        {R"({"segments": [{"words": []}], "text": ""})", TranscriptFormat::whisper},
        {R"({"segments": [], "word_segments": []})", TranscriptFormat::whisperx},
        {R"({"systeminfo": "", "transcription": []})", TranscriptFormat::whisper_cpp},
        {"\xEF\xBB\xBF  {\"result\": [], \"text\": \"\"}\n{\"text\": \"\"}", TranscriptFormat::vosk},
        {R"([{"partial": ""}])", TranscriptFormat::vosk},
        {"\n1\n00:00:01,000 --> 00:00:02,000\nhi\n", TranscriptFormat::srt},
        {"WEBVTT\n\n00:01.000 --> 00:02.000\nhi\n", TranscriptFormat::vtt},
    };
    for (const auto& [text, format] : cases) {
        EXPECT_EQ(detect_transcript_format(text, "talk"), format) << text;
    }
    for (const char* text : {"", "hello\n", R"({"words": []})", "[1, 2]", "{\n\"segments\": ["}) {
        try {
            detect_transcript_format(text, "talk.txt");
            ADD_FAILURE() << "detected " << text;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("talk.txt", 0), 0u) << e.what();
        }
    }
    EXPECT_EQ(transcript_format_named("Whisper.CPP"), TranscriptFormat::whisper_cpp);
    EXPECT_EQ(transcript_format_named("whisper_cpp"), std::nullopt);
}

TEST(MaskTranscript, MalformedTranscriptsNameTheFileAndWhere)
{
    using F = TranscriptFormat;
    const std::tuple<F, const char*, const char*> cases[] = {
        {F::whisper, "{\"segments\": [\n{\"words\": [}]}", "talk.json:2: not valid JSON: syntax error"},
        {F::whisper, R"({"segments": [{"words": [{}, {"word": "a", "start": 1}]}]})",
         "talk.json: segments[0].words[0]: no \"word\""},
        {F::whisper, R"({"segments": [{"words": [{"word": "a", "start": 1}]}]})",
         "talk.json: segments[0].words[0]: no \"end\""},
        {F::whisper, R"({"segments": [{"text": " hi"}]})", "talk.json: segments[0]: text without word times"},
        {F::whisper, R"({"segments": [{"words": [{"word": "a", "start": "1", "end": 2}]}]})",
         "\"start\" is not a number"},
        {F::whisper, R"({"segments": [{"words": [{"word": "a", "start": 2, "end": 1}]}]})",
         "\"end\" is before \"start\""},
        {F::whisper, R"({"segments": [{"words": [{"word": "a", "start": 1e999, "end": 1}]}]})",
         "talk.json: not valid JSON"},
        {F::whisperx, R"({"word_segments": [{"word": "a", "start": -1, "end": 1}]})",
         "talk.json: word_segments[0]: \"start\" is negative"},
        {F::whisperx, R"({"word_segments": [{"word": "a", "start": 0, "end": 1, "score": 1.5}]})",
         "\"score\" is not a number from 0 to 1"},
        {F::whisper_cpp, R"({"transcription": [{"tokens": [{"text": " a", "offsets": {"from": 5}}]}]})",
         "talk.json: transcription[0].tokens[0].offsets: no \"to\""},
        {F::vosk, "{\"text\": \"\"}\n{\"result\": [{\"word\": \"a\", \"end\": 1}]}",
         "talk.json:2: result[0]: no \"start\""},
        {F::vosk, "{\"text\": \"\"}\n{\"result\": 3}", "talk.json:2: \"result\" is not an array"},
        {F::vosk, "{\"text\": \"\"}\n{\"text\": \"hello there\"}", "talk.json:2: text without word times"},
        {F::srt, "1\n00:00:01,000 --> 00:00:02,000\nhi\n\nhello\n", "talk.json:5: not a cue"},
        {F::srt, "1\n00:00:01,000 --> 00:01:60,000\nhi\n", "talk.json:2: '00:01:60,000' is not a cue time"},
        {F::srt, "1\n00:00:02,000 --> 00:00:01,000\nhi\n", "talk.json:2: the cue ends before it starts"},
        {F::srt, "1\n00:00:01,000 --> 00:00:02,000\ncaf\xE9\n", "talk.json:3: not UTF-8 text (byte 0xE9)"},
        {F::vtt, "WEBVTTX\n", "talk.json:1: no WEBVTT header"},
        {F::vtt, "WEBVTT\n\n00:01.000 --> 00:02.000\na <00:03.000>b\n",
         "talk.json:4: timestamp tag <00:03.000> is outside"},
    };
    for (const auto& [format, text, message] : cases) {
        try {
            read_transcript(text, format, "talk.json");
            ADD_FAILURE() << "accepted " << text;
        } catch (const Error& e) {
            EXPECT_EQ(e.status(), EXIT_BAD_INPUT);
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
        }
    }
}

// Windows tools save "Unicode" text as UTF-16 with a byte order mark.
std::string utf16(std::u16string_view text, bool little_endian)
{
    std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += little_endian ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

TEST(MaskTranscript, ReadsUtf16WithAByteOrderMark)
{
    const std::string srt = utf16(u"1\r\n00:00:01,000 --> 00:00:02,000\r\nCafé \U0001F600\r\n", true);
    EXPECT_EQ(detect_transcript_format(srt, "talk"), TranscriptFormat::srt);
    expect_words(srt, TranscriptFormat::srt,
                 {{"Café", 1, 2, -1, true, "talk:3"}, {"\U0001F600", 1, 2, -1, true, "talk:3"}});
    const std::string json
        = utf16(u"{\"segments\": [{\"words\": [{\"word\": \" Señor\", \"start\": 1, \"end\": 2}]}]}", false);
    EXPECT_EQ(detect_transcript_format(json, "talk"), TranscriptFormat::whisper);
    expect_words(json, TranscriptFormat::whisper, {{" Señor", 1, 2, -1, false, "talk: segments[0].words[0]"}});
    try {
        read_transcript(utf16(u"1\n00:00:01,000 --> 00:00:02,000\nhi \xD800!\n", true), TranscriptFormat::srt, "talk");
        ADD_FAILURE() << "read a lone surrogate";
    } catch (const Error& e) {
        EXPECT_EQ(e.message().rfind("talk:3: not UTF-16", 0), 0u) << e.message();
    }
}

TEST(MaskTranscript, TellsTheFormatFromTheStartOfALongTranscript)
{
    // WhisperX writes its segments, words and all, before its word_segments;
    // openai-whisper its whole text before its segments.
    std::string segments;
    for (int i = 0; i < 2000; ++i) {
        segments += R"({"text": " a", "words": [{"word": "a", "start": 1, "end": 2, "score": 0.5}]}, )";
    }
    const std::string whisperx
        = R"({"segments": [)" + segments + R"({}], "word_segments": [{"word": "b", "start": 3, "end": 4}]})";
    EXPECT_EQ(detect_transcript_format(whisperx, "talk"), TranscriptFormat::whisperx);
    expect_words(whisperx, TranscriptFormat::whisperx, {{"b", 3, 4, -1, false, "talk: word_segments[0]"}});
    const std::string whisper = R"({"text": ")" + std::string(100000, 'a') + R"(", "segments": []})";
    EXPECT_EQ(detect_transcript_format(whisper, "talk"), TranscriptFormat::whisper);
    // Keys that tell no format before the start is cut: the user is asked.
    const std::string unknown = R"({"language": "en", "text": ")" + std::string(100000, 'a') + R"(", "segments": []})";
    try {
        detect_transcript_format(unknown, "talk");
        ADD_FAILURE() << "guessed a format";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("--transcript-format"), std::string::npos) << e.what();
    }
}

// Tokens that never start a new word would join into one without end.
TEST(MaskTranscript, RefusesAWhisperCppWordWithoutEnd)
{
    std::string tokens = R"({"text": " a", "offsets": {"from": 0, "to": 10}})";
    for (int i = 0; i < 20000; ++i) {
        tokens += R"(, {"text": "abcd", "offsets": {"from": 0, "to": 10}})";
    }
    try {
        read_transcript(R"({"transcription": [{"tokens": [)" + tokens + "]}]}", TranscriptFormat::whisper_cpp, "talk");
        ADD_FAILURE() << "joined a word of 80 kB";
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), EXIT_BAD_INPUT);
        EXPECT_EQ(e.message().rfind("talk: transcription[0].tokens[", 0), 0u) << e.message();
    }
}

} // namespace
