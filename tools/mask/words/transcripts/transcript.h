// SPDX-License-Identifier: ISC
// zendrik-mask's transcript readers: word timings other recognisers wrote,
// read as a stream, a word at a time. No matching: text in, words out.
#ifndef ZENDRIK_MASK_TRANSCRIPT_H
#define ZENDRIK_MASK_TRANSCRIPT_H

#include "errors.h"
#include "timed_words.h"

#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

// What the readers take:
// - whisper: openai-whisper's JSON with word timestamps (and faster-whisper's,
//   stable-ts's): segments[].words[] of {word, start, end, probability};
//   whisper-timestamped's {text, start, end, confidence} too.
//   Segments that have text but no words come from a run without word
//   timestamps and are an error.
// - whisperx: word_segments[] of {word, start, end, score}. Words WhisperX
//   could not align (often numbers) have no times; they are skipped, as no
//   time can be bleeped for them, and counted in one warning.
// - whisper_cpp: whisper.cpp's -ojf JSON, transcription[].tokens[] of {text,
//   offsets {from, to} in ms, p}. A token starting with a space starts a word,
//   any other continues the one before; the word's confidence is its least
//   sure token's. Special tokens ("[_BEG_]", "<|endoftext|>") end a word and
//   are dropped. Entries without tokens (plain -oj) are read as cues.
// - vosk: {"result": [{word, start, end, conf}], "text"}; one such object, an
//   array of them, or several one after another (as scripts print them).
//   Objects without "result" (partial results, silence) give nothing.
// - srt, vtt: each word of a cue gets the cue's times. WebVTT timestamp tags
//   (<00:00:01.500>) time the words after them, up to the next tag or the
//   cue's end.
// A word's whole_cue is set when its times are shared with other words (a
// cue, or a stretch between timestamp tags, of more than one word).
enum class TranscriptFormat { whisper, whisperx, whisper_cpp, vosk, srt, vtt };

// The names --transcript-format takes ("whisper", "whisperx", "whisper.cpp",
// "vosk", "srt", "vtt"), joined by `separator`.
std::string transcript_format_names(const char* separator);
std::optional<TranscriptFormat> transcript_format_named(std::string_view name);

// The format the text is in, judged from its start (the first 64 KiB, as
// when reading a stream). Throws the bad-input Error naming `name` when none
// fits.
TranscriptFormat detect_transcript_format(std::string_view text, const std::string& name);

// Each word as it is read, in the order written; the text of each is as
// written, punctuation included.
using WordSink = std::function<void(TimedWord&& word)>;

// Reads `in` to its end a piece at a time, each word handed to `sink` and
// none kept, so that memory does not grow with the transcript. The format is
// told from the start when none is given. Text may be UTF-8 or, with a byte
// order mark, UTF-16. Returns what the user should be told of the words it
// gives no times for (each naming the file, without "warning: ").
// Anything malformed (text that is not UTF-8, bad syntax, missing or bad
// times, a confidence outside 0 to 1, a word with no text) throws the
// bad-input Error naming `name` and the line or the element ("talk.json:
// segments[3].words[2]: no \"end\""), once the words before it were handed over.
std::vector<std::string> read_transcript(std::istream& in, std::optional<TranscriptFormat> format,
                                         const std::string& name, const WordSink& sink);

// What a transcript gives: its words, and the warnings.
struct Transcript {
    std::vector<TimedWord> words;
    std::vector<std::string> warnings;
};

// The same for text in memory, every word kept.
Transcript read_transcript(std::string_view text, TranscriptFormat format, const std::string& name);

} // namespace zendrik_mask

#endif
