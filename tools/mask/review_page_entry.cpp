// SPDX-License-Identifier: ISC
// The run's findings handed to the review page library.
#include "review.h"
#include "review_page.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace zendrik_mask {

namespace {

constexpr std::size_t PAGE_NEAR_MISSES = 100;

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
            data.items.push_back({listed, word.heard, review.request.source, word.confidence, ranges[i].start_ns,
                                  ranges[i].end_ns,
                                  label_text(listed, word.heard, review.request.source, word.confidence, word.whole_cue,
                                             word.stream, word.aligned, word.fit, word.agreed.value_or(false)),
                                  near});
        }
    };
    add_finds(review.found, review.word_ranges, false);
    if (review.near_misses != nullptr && review.near_ranges != nullptr) {
        // A long file heard with a long list may be unsure of hundreds of places: the page
        // keeps the surest, in time order, so that its size stays that of the finds.
        std::vector<std::size_t> order(review.near_misses->size());
        std::iota(order.begin(), order.end(), 0);
        const auto sureness = [&](std::size_t i) { return (*review.near_misses)[i].confidence.value_or(0.0); };
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return sureness(a) > sureness(b); });
        order.resize(std::min(order.size(), PAGE_NEAR_MISSES));
        std::sort(order.begin(), order.end());
        std::vector<FoundWord> near;
        std::vector<TimeRange> ranges;
        for (const std::size_t i : order) {
            near.push_back((*review.near_misses)[i]);
            ranges.push_back((*review.near_ranges)[i]);
        }
        add_finds(near, ranges, true);
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
