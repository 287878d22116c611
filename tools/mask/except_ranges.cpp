// SPDX-License-Identifier: ISC
#include "except_ranges.h"

#include "text_input.h"

#include <cmath>

namespace zendrik_mask {

std::vector<TimeRange> read_except_ranges(const Options& options)
{
    std::vector<TimeRange> ranges;
    for (const std::string& text : options.excepts) {
        try {
            ranges.push_back(parse_range(text));
        } catch (const Error& e) {
            throw bad_input("--except: " + e.message());
        }
    }
    for (const std::string& path : options.except_label_files) {
        TextInput in(path, "label file", LABEL_FILE_LIMITS);
        for (TimeRange& range : parse_labels(in, path)) {
            ranges.push_back(std::move(range));
        }
    }
    return ranges;
}

void drop_excepted(std::vector<FoundWord>& found, std::vector<TimeRange>& ranges,
                   const std::vector<TimeRange>& excepted)
{
    if (excepted.empty()) {
        return;
    }
    std::vector<FoundWord> kept_words;
    std::vector<TimeRange> kept_ranges;
    for (std::size_t i = 0; i < found.size(); ++i) {
        // The word itself, unpadded, must lie inside: a dropped label is a word
        // padded, and the words around it, or a phrase holding it, stay found.
        const int64_t start = std::llround(found[i].start * 1e9), end = std::llround(found[i].end * 1e9);
        bool cleared = false;
        for (const TimeRange& range : excepted) {
            cleared = cleared || (range.start_ns <= start && end <= range.end_ns);
        }
        if (!cleared) {
            kept_words.push_back(found[i]);
            kept_ranges.push_back(ranges[i]);
        }
    }
    found = std::move(kept_words);
    ranges = std::move(kept_ranges);
}

} // namespace zendrik_mask
