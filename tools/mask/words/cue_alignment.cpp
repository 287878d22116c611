// SPDX-License-Identifier: ISC
#include "cue_alignment.h"

#include "downmix.h"
#include "word_list.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace zendrik_mask {

namespace {

int64_t sample_at(double seconds)
{
    return std::max<int64_t>(0, std::llround(seconds * RECOGNISER_RATE));
}

AlignedCue align_one(const CueText& cue, const int16_t* samples, std::size_t count, double offset, Aligner& aligner)
{
    AlignedCue result;
    std::vector<std::string> text;
    for (const std::string& written : cue.written) {
        const bool censored = is_censored(written);
        std::string word = censored ? std::string(UNSPOKEN_SLOT) : normalise_word(written);
        if (!censored && word.empty()) {
            continue;
        }
        text.push_back(std::move(word));
        result.words.push_back({written, cue.start, cue.end, std::nullopt, false, cue.origin, false});
        result.fits.push_back(0.0);
        result.censored.push_back(censored);
    }
    if (text.empty() || count == 0 || cue.end - cue.start > LONGEST_ALIGNED_CUE_SECONDS) {
        return result;
    }
    const std::optional<std::vector<AlignedWord>> aligned = aligner.align(samples, count, text);
    if (!aligned || aligned->size() != text.size()) {
        return result;
    }
    result.fitted = true;
    for (const AlignedWord& word : *aligned) {
        TimedWord& timed = result.words[word.index];
        timed.start = offset + word.start;
        timed.end = offset + word.end;
        result.fits[word.index] = word.fit;
    }
    return result;
}

} // namespace

std::vector<AlignedCue> align_cues(InputFile& input, const std::vector<CueText>& cues, Aligner& aligner)
{
    std::vector<AlignedCue> results(cues.size());
    std::vector<std::size_t> order(cues.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return cues[a].start < cues[b].start; });
    std::vector<int16_t> pending; // the sound from sample `first` on
    int64_t first = 0;
    std::size_t next = 0;
    const auto window = [&](std::size_t cue) {
        return std::pair(sample_at(cues[cue].start - CUE_WIDENING_SECONDS),
                         sample_at(cues[cue].end + CUE_WIDENING_SECONDS));
    };
    // Aligns the cues whose sound is all read (every one left at the end),
    // then drops the sound no cue left needs.
    const auto align_ready = [&](bool at_end) {
        const int64_t read = first + static_cast<int64_t>(pending.size());
        for (; next < order.size(); ++next) {
            const auto [start, end] = window(order[next]);
            const CueText& cue = cues[order[next]];
            // Not waited for: its sound would be held for as long as it lasts.
            if (cue.end - cue.start > LONGEST_ALIGNED_CUE_SECONDS) {
                results[order[next]] = align_one(cue, nullptr, 0, 0, aligner);
                continue;
            }
            if (end > read && !at_end) {
                break;
            }
            const int64_t from = std::clamp(start, first, read);
            const int64_t to = std::clamp(end, from, read);
            results[order[next]]
                = align_one(cues[order[next]], pending.data() + (from - first), static_cast<std::size_t>(to - from),
                            static_cast<double>(from) / RECOGNISER_RATE, aligner);
        }
        const int64_t keep = next < order.size() ? std::min(window(order[next]).first, read) : read;
        if (keep > first) {
            pending.erase(pending.begin(), pending.begin() + (keep - first));
            first = keep;
        }
        return true;
    };
    if (cues.empty()) {
        return results;
    }
    read_downmixed(input, pending, [&] { return align_ready(false); });
    align_ready(true);
    return results;
}

} // namespace zendrik_mask
