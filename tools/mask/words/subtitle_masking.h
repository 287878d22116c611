// SPDX-License-Identifier: ISC
// The words found, written over in subtitles: in a cue shown near the time a
// listed word was found, that word's letters become the mask. The cue's
// markup (SubRip and WebVTT tags, ASS fields and override blocks, line
// breaks) and every other word stay as they are.
#ifndef ZENDRIK_MASK_SUBTITLE_MASKING_H
#define ZENDRIK_MASK_SUBTITLE_MASKING_H

#include "text.h"
#include "word_list.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

// What a found word is written as: `****` by default, any text, or the
// word's first letter and a star for each other letter ("d***").
struct SubtitleMask {
    bool initial = false;
    std::string text = "****";
};

// --subtitle-mask: "initial", else the text itself. Throws the bad-input
// Error for an empty text and one holding subtitle markup or line breaks.
SubtitleMask parse_subtitle_mask(const std::string& option);

// How a cue's text is written: SubRip, WebVTT and mov_text's text (tags in
// angle brackets, {\an8} blocks) or an ASS event as FFmpeg stores it
// (ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect, Text).
enum class CueMarkup { text, ass_event };

class SubtitleMasker {
public:
    // The finds of `patterns`; the one `censored` names stands for words the
    // text already hides, and masks nothing.
    SubtitleMasker(const std::vector<WordPattern>& patterns, const std::vector<FoundWord>& found,
                   std::optional<std::size_t> censored, SubtitleMask mask);
    // Whether any cue can change.
    bool masks_anything() const { return !finds_.empty(); }
    // The edits that mask, in a cue shown from `start` to `end` seconds, the
    // listed words found within a second of it (subtitle timing is loose),
    // matched as the list matches; censored words are left as written.
    std::vector<TextEdit> edits(std::string_view cue, CueMarkup markup, double start, double end) const;

private:
    struct Find {
        std::size_t pattern;
        double start, end;
    };
    std::string mask_of(std::string_view word) const;

    const std::vector<WordPattern>& patterns_;
    std::vector<Find> finds_;
    SubtitleMask mask_;
};

} // namespace zendrik_mask

#endif
