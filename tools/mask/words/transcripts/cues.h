// SPDX-License-Identifier: ISC
// What the subtitle readers (and whisper.cpp's plain JSON) share: cue times,
// and a cue's text split into words that share them.
#ifndef ZENDRIK_MASK_CUES_H
#define ZENDRIK_MASK_CUES_H

#include "timed_words.h"
#include "transcript_text.h"

#include <cstddef>
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

bool is_cue_times(const Line& line);

// A SubRip cue's number: digits alone, with the times on the next line.
bool is_cue_number(const std::vector<Line>& lines, std::size_t i);

// Words split on whitespace, all with the same times: a subtitle cue's.
void add_cue_words(std::string_view text, double start, double end, const std::string& origin,
                   std::vector<TimedWord>& words);

// The words of one cue's text: tags dropped, and with WebVTT's timestamp
// tags, each word timed by the tag before it and the one after.
void add_cue(const std::vector<Line>& text_lines, double cue_start, double cue_end, bool webvtt,
             const std::string& name, std::vector<TimedWord>& words);

} // namespace zendrik_mask

#endif
