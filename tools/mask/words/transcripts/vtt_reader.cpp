// SPDX-License-Identifier: ISC
// WebVTT (.vtt): cues between other blocks, with timestamp tags timing the
// words inside a cue where present.
#include "cues.h"
#include "errors.h"
#include "readers.h"
#include "text.h"

#include <algorithm>

namespace zendrik_mask {

namespace {

// A block of WebVTT that holds no cue: "NOTE", "STYLE" or "REGION", alone or
// followed by a space.
bool is_other_block(std::string_view first_line)
{
    for (const std::string_view keyword : {"NOTE", "STYLE", "REGION"}) {
        if (starts_with(first_line, keyword)
            && (first_line.size() == keyword.size() || is_space(first_line[keyword.size()]))) {
            return true;
        }
    }
    return false;
}

} // namespace

void read_vtt(std::string_view text, const std::string& name, Transcript& transcript)
{
    std::vector<TimedWord>& words = transcript.words;
    const std::vector<Line> lines = split_lines(text);
    if (lines.empty() || !starts_with(lines[0].text, "WEBVTT")
        || (lines[0].text.size() > 6 && lines[0].text[6] != ' ' && lines[0].text[6] != '\t')) {
        throw bad_input(at_line(name, 1) + ": no WEBVTT header");
    }
    std::size_t i = 0;
    while (i < lines.size()) {
        // A block: lines up to a blank one. The first is the header.
        const std::size_t begin = i;
        while (i < lines.size() && !lines[i].text.empty()) {
            ++i;
        }
        const std::size_t end = i;
        while (i < lines.size() && lines[i].text.empty()) {
            ++i;
        }
        std::size_t times = begin;
        if (begin == 0) {
            // The header's block holds no cue, unless the blank line after
            // the header was left out.
            times = static_cast<std::size_t>(
                std::find_if(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(end), is_cue_times)
                - lines.begin());
            if (times == end) {
                continue;
            }
        } else if (begin == end || (is_other_block(lines[begin].text) && !is_cue_times(lines[begin]))) {
            continue;
        } else if (!is_cue_times(lines[times]) && (++times == end || !is_cue_times(lines[times]))) {
            throw bad_input(at_line(name, lines[begin].number) + ": not a cue (no 'start --> end' line)");
        }
        const auto [start, stop] = parse_cue_times(lines[times], name);
        add_cue(std::vector<Line>(lines.begin() + static_cast<std::ptrdiff_t>(times + 1),
                                  lines.begin() + static_cast<std::ptrdiff_t>(end)),
                start, stop, true, name, words);
    }
}

} // namespace zendrik_mask
