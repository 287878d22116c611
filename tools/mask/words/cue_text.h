// SPDX-License-Identifier: ISC
// The subtitle cues of a transcript that hold something to bleep, with
// their text, kept as the transcript is read so that the aligner can place
// their words in the sound; every other cue is dropped as soon as it ends.
#ifndef ZENDRIK_MASK_CUE_TEXT_H
#define ZENDRIK_MASK_CUE_TEXT_H

#include "timed_words.h"

#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

struct CueText {
    double start = 0, end = 0;
    std::vector<std::string> written; // each word as written
    std::string origin;               // of its first word: "film.srt:12"
    bool censored = false;            // holds a censored word
};

// A caption's censored word, as written: "__" (of "[ __ ]"), "[__]", "f***",
// "f*ck", "****": stars with at most three letters, or underscores alone.
bool is_censored(std::string_view written);

// The cue's text for messages: its words joined, at most about 60 bytes.
std::string cue_excerpt(const CueText& cue);

class CueCollector {
public:
    // Each word of the transcript in order; `completes_find` when the list
    // found something that ends with it. Words whose times are not a cue's
    // are not kept.
    void add(const TimedWord& word, bool completes_find);
    // The cues that held a find or a censored word, in the order read.
    std::vector<CueText> finish();

private:
    void close();

    CueText open_;
    bool open_holds_find_ = false;
    bool has_open_ = false;
    std::vector<CueText> kept_;
};

} // namespace zendrik_mask

#endif
