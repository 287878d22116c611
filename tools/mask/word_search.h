// SPDX-License-Identifier: ISC
// The words to bleep, found: read the word list, then find the words either
// in a transcript made by another recogniser or with the built-in one, and
// turn every find into a time range to mask.
#ifndef ZENDRIK_MASK_WORD_SEARCH_H
#define ZENDRIK_MASK_WORD_SEARCH_H

#include "audio_file.h"
#include "cue_text.h"
#include "model_files.h"
#include "options.h"
#include "ranges.h"
#include "text_anchors.h"
#include "timed_words.h"
#include "transcript.h"
#include "word_list.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

// What a transcript gave for the patterns: the finds, the word that ends
// last, and the warnings, told with the findings'.
struct TranscriptFinds {
    std::vector<FoundWord> found;
    std::optional<TimedWord> last;
    std::vector<std::string> warnings;
    // The subtitle cues that hold a find or a censored word, to align.
    std::vector<CueText> cues;
    // From --subtitles: the stream read and its language ("" when unsaid).
    int subtitle_stream = -1;
    std::string language;
};

// What --word, --words and --transcript ask for, read and checked before any
// audio is: the patterns, and what the transcript gave when there is one.
struct WordRequest {
    std::vector<WordPattern> patterns;
    std::optional<TranscriptFinds> transcript;
    // A transcript without times, placed on the sound once it is heard.
    std::optional<std::vector<TextWord>> plain_text;
    std::string source; // "transcript" or "recogniser", for labels and the report
    // The pattern "[censored]" stands for, added when a cue holds a censored word.
    std::optional<std::size_t> censored;
};

// Throws the bad-input Error for unreadable or malformed lists and transcripts.
WordRequest read_word_request(const Options& options);

struct WordFindings {
    std::vector<FoundWord> found;       // in order of time
    std::vector<FoundWord> near_misses; // heard, but less sure than the least confidence kept; in order of time
    std::vector<std::string> warnings;
};

// Finds the patterns in the transcript, or in the audio of `input_path`
// (opened anew, read to its end). `seconds` is the input's length; a
// transcript that runs past it is refused.
WordFindings find_words(const WordRequest& request, const Options& options, double seconds);

// The finds of the transcript's cues placed in the sound of the input, each
// over its own words' times (cue_search.cpp); cues that do not fit keep
// their whole times, with a warning naming each.
void align_cue_finds(const WordRequest& request, const TranscriptFinds& read, const Options& options,
                     WordFindings& findings);

// Each find widened by `pad` seconds on both sides, kept within the audio,
// one range per find. Finds left with nothing to bleep (a word of no length
// at --pad 0, one in the slack past the end) are dropped from `found`.
std::vector<TimeRange> word_ranges(const WordRequest& request, std::vector<FoundWord>& found, double pad,
                                   double seconds);

} // namespace zendrik_mask

#endif
