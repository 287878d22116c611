// SPDX-License-Identifier: ISC
// The run's findings handed to the review page library.
#include "review.h"
#include "review_page.h"

#include <cstdio>

namespace zendrik_mask {

namespace {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

std::string review_page_text(const Review& review)
{
    const Options& options = *review.options;
    PageData data;
    data.input = options.input;
    data.output = options.output;
    data.frequency = options.frequency.value_or(1000);
    data.level = options.level.value_or(0.5F);
    if (!options.preset.empty()) {
        data.tone_options += "--preset " + options.preset + " ";
    }
    if (options.frequency) {
        data.tone_options += "--frequency " + number(*options.frequency) + " ";
    }
    if (options.level) {
        data.tone_options += "--level " + number(*options.level) + " ";
    }
    if (!data.tone_options.empty()) {
        data.tone_options.pop_back();
    }
    const auto add_finds = [&](const std::vector<FoundWord>& finds, const std::vector<TimeRange>& ranges, bool near) {
        for (std::size_t i = 0; i < finds.size(); ++i) {
            const FoundWord& word = finds[i];
            const std::string& listed = review.request.patterns[word.pattern].text;
            data.items.push_back(
                {listed, word.heard, review.request.source, word.confidence, ranges[i].start_ns, ranges[i].end_ns,
                 label_text(listed, word.heard, review.request.source, word.confidence, word.whole_cue, word.stream),
                 near});
        }
    };
    add_finds(review.found, review.word_ranges, false);
    if (review.near_misses != nullptr && review.near_ranges != nullptr) {
        add_finds(*review.near_misses, *review.near_ranges, true);
    }
    for (const TimeRange& range : review.given_ranges) {
        const bool masked = range.origin.rfind("--mask", 0) == 0;
        const std::string& text = range.label.empty() ? range.origin : range.label;
        data.items.push_back(
            {text, "", masked ? "--mask" : "labels", std::nullopt, range.start_ns, range.end_ns, text, false});
    }
    return review_page_html(data);
}

} // namespace zendrik_mask
