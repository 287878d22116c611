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

void read_vtt(TextSource& source, const WordSink& sink, std::vector<std::string>& /*warnings*/)
{
    const std::string& name = source.name();
    LineReader lines(source);
    const OwnedLine* header = lines.peek();
    if (!header || !starts_with(header->text, "WEBVTT")
        || (header->text.size() > 6 && header->text[6] != ' ' && header->text[6] != '\t')) {
        throw bad_input(at_line(name, 1) + ": no WEBVTT header");
    }
    for (bool first = true; lines.peek(); first = false) {
        // A block: lines up to an empty one. The first is the header.
        Block block;
        while (lines.peek() && !lines.peek()->text.empty()) {
            lines.take_into(block);
        }
        while (lines.peek() && lines.peek()->text.empty()) {
            lines.take();
        }
        const std::vector<OwnedLine>& held = block.lines;
        const auto holds_times = [](const OwnedLine& line) { return is_cue_times(line.text); };
        std::size_t times = 0;
        if (first) {
            // The header's block holds no cue, unless the blank line after
            // the header was left out.
            times = static_cast<std::size_t>(std::find_if(held.begin(), held.end(), holds_times) - held.begin());
            if (times == held.size()) {
                continue;
            }
        } else if (held.empty() || (is_other_block(held[0].text) && !is_cue_times(held[0].text))) {
            continue;
        } else if (!is_cue_times(held[0].text) && (held.size() == 1 || !is_cue_times(held[1].text))) {
            throw bad_input(at_line(name, held[0].number) + ": not a cue (no 'start --> end' line)");
        } else if (!is_cue_times(held[0].text)) {
            times = 1;
        }
        const auto [start, stop] = parse_cue_times(held[times].view(), name);
        add_cue(block.views(times + 1), start, stop, true, name, sink);
    }
}

} // namespace zendrik_mask
