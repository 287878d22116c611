// SPDX-License-Identifier: ISC
// SubRip (.srt): numbered cues, each word given its cue's times.
#include "cues.h"
#include "errors.h"
#include "readers.h"

namespace zendrik_mask {

void read_srt(TextSource& source, const WordSink& sink, std::vector<std::string>& /*warnings*/)
{
    LineReader lines(source);
    const auto is_number_at = [&lines](std::size_t ahead) {
        const OwnedLine* next = lines.peek(ahead + 1);
        return is_cue_number(lines.peek(ahead)->text, next ? std::string_view(next->text) : std::string_view());
    };
    while (const OwnedLine* line = lines.peek()) {
        if (is_blank(line->text)) {
            lines.take();
            continue;
        }
        if (is_number_at(0)) {
            lines.take();
        } else if (!is_cue_times(line->text)) {
            throw bad_input(at_line(source.name(), line->number)
                            + ": not a cue (a number, then 'hh:mm:ss,mmm --> hh:mm:ss,mmm')");
        }
        const auto [start, end] = parse_cue_times(lines.take().view(), source.name());
        Block cue;
        // A cue ends at a blank line, or where the next one starts when the
        // blank line was left out.
        while ((line = lines.peek()) && !is_blank(line->text) && !is_number_at(0)) {
            lines.take_into(cue);
        }
        add_cue(cue.views(), start, end, false, source.name(), sink);
    }
}

} // namespace zendrik_mask
