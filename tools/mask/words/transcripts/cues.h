// SPDX-License-Identifier: ISC
// What the subtitle readers (and whisper.cpp's plain JSON) share: cue times,
// and a cue's text split into words that share them.
#ifndef ZENDRIK_MASK_CUES_H
#define ZENDRIK_MASK_CUES_H

#include "text_source.h"
#include "timed_words.h"
#include "transcript.h"
#include "transcript_text.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zendrik_mask {

// [hours:]minutes:seconds[.fraction], with a comma as SubRip writes it or a
// point as WebVTT does; either is taken in both.
std::optional<double> parse_clock(std::string_view text);

// "start --> end", with WebVTT's cue settings or SubRip's coordinates after.
std::pair<double, double> parse_cue_times(const Line& line, const std::string& name);

bool is_cue_times(std::string_view line);

// A SubRip cue's number: digits alone, with the times on the next line.
bool is_cue_number(std::string_view line, std::string_view next_line);

// Words split on whitespace, all with the same times: a subtitle cue's.
void add_cue_words(std::string_view text, double start, double end, const std::string& origin, const WordSink& sink);

// The words of one cue's text: tags dropped, and with WebVTT's timestamp
// tags, each word timed by the tag before it and the one after.
void add_cue(const std::vector<Line>& text_lines, double cue_start, double cue_end, bool webvtt,
             const std::string& name, const WordSink& sink);

struct OwnedLine {
    std::string text;
    std::size_t number = 0;
    Line view() const { return {text, number}; }
};

// Lines gathered, a cue's or a WebVTT block's: at most MAX_BYTES of them.
struct Block {
    std::vector<OwnedLine> lines;
    std::size_t bytes = 0;
    std::vector<Line> views(std::size_t from = 0) const;
    static constexpr std::size_t MAX_BYTES = 1024 * 1024;
};

// A subtitle file's lines, read one at a time with a line's look ahead.
class LineReader {
public:
    explicit LineReader(TextSource& source) : source_(source) {}
    // The line `ahead` lines on (0: the next, at most 1), or null at the end.
    const OwnedLine* peek(std::size_t ahead = 0);
    OwnedLine take(); // the next line, which peek() showed
    void take_into(Block& block);

private:
    TextSource& source_;
    std::deque<OwnedLine> ahead_;
    std::size_t number_ = 0;
};

} // namespace zendrik_mask

#endif
