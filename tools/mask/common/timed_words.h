// SPDX-License-Identifier: ISC
// Words with their times, as a recogniser or a transcript gives them: what the
// word readers produce and the word matcher consumes.
#ifndef ZENDRIK_MASK_TIMED_WORDS_H
#define ZENDRIK_MASK_TIMED_WORDS_H

#include <optional>
#include <string>

namespace zendrik_mask {

struct TimedWord {
    std::string text;                 // as the source wrote it, punctuation and case included
    double start = 0;                 // seconds from the start of the audio
    double end = 0;                   // seconds, not before start
    std::optional<double> confidence; // 0 to 1, where the source gives one
    // The times are a whole subtitle cue's, which holds more than this word.
    bool whole_cue = false;
    // Where it was read, for messages: "talk.json: segments[3].words[2]", "talk.srt:12".
    std::string origin;
    // The times are a subtitle cue's (or a stretch of one between timestamp
    // tags), however many words it holds: loose, so worth aligning to the sound.
    bool cue = false;
    // How well the word alone explains its sound, where the recogniser
    // checked it (see AlignedWord::fit).
    std::optional<double> fit{};
    // Whether the decoding without the list's boost heard the word there
    // too, where the recogniser asked it (short words the boost invents).
    std::optional<bool> agreed{};
};

} // namespace zendrik_mask

#endif
