// SPDX-License-Identifier: ISC
// SubRip (.srt): numbered cues, each word given its cue's times.
#include "cues.h"
#include "errors.h"
#include "readers.h"

namespace zendrik_mask {

void read_srt(std::string_view text, const std::string& name, Transcript& transcript)
{
    std::vector<TimedWord>& words = transcript.words;
    const std::vector<Line> lines = split_lines(text);
    std::size_t i = 0;
    while (i < lines.size()) {
        if (is_blank(lines[i].text)) {
            ++i;
            continue;
        }
        if (is_cue_number(lines, i)) {
            ++i;
        } else if (!is_cue_times(lines[i])) {
            throw bad_input(at_line(name, lines[i].number)
                            + ": not a cue (a number, then 'hh:mm:ss,mmm --> hh:mm:ss,mmm')");
        }
        const auto [start, end] = parse_cue_times(lines[i++], name);
        std::vector<Line> cue_text;
        // A cue ends at a blank line, or where the next one starts when the
        // blank line was left out.
        while (i < lines.size() && !is_blank(lines[i].text) && !is_cue_number(lines, i)) {
            cue_text.push_back(lines[i++]);
        }
        add_cue(cue_text, start, end, false, name, words);
    }
}

} // namespace zendrik_mask
