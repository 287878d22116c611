// SPDX-License-Identifier: ISC
#include "cue_alignment.h"

#include "downmix.h"
#include "word_list.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <numeric>
#include <thread>

namespace zendrik_mask {

namespace {

int64_t sample_at(double seconds)
{
    return std::max<int64_t>(0, std::llround(seconds * RECOGNISER_RATE));
}

// "JOHN:", "MAN 2:": who speaks, as captions name them.
bool is_speaker(const std::string& written)
{
    return written.size() > 1 && written.back() == ':'
        && std::none_of(written.begin(), written.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

AlignedCue align_one(const CueText& cue, const int16_t* samples, std::size_t count, double offset, Aligner& aligner)
{
    AlignedCue result;
    std::vector<std::string> text;
    int brackets = 0; // open around the word: "(laughs)", "[MUSIC PLAYS]" are not speech
    for (const std::string& written : cue.written) {
        const bool censored = is_censored(written);
        const bool described = brackets > 0 || written.front() == '(' || written.front() == '[';
        for (const char c : written) {
            brackets = std::max(0, brackets + (c == '(' || c == '[') - (c == ')' || c == ']'));
        }
        std::string word = censored ? std::string(UNSPOKEN_SLOT) : normalise_word(written);
        if (!censored && (word.empty() || described || is_speaker(written))) {
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

std::vector<AlignedCue> align_cues(InputFile& input, const std::vector<CueText>& cues,
                                   const std::vector<Aligner*>& aligners)
{
    std::vector<AlignedCue> results(cues.size());
    if (cues.empty()) {
        return results;
    }
    std::vector<std::size_t> order(cues.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return cues[a].start < cues[b].start; });
    // Cues with their sound, from the reader to the aligners, a few at a
    // time so that memory stays that of a few cues.
    struct Task {
        std::size_t cue;
        std::vector<int16_t> sound;
        double offset;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Task> tasks;
    bool done = false;
    std::exception_ptr error;
    const std::size_t capacity = 2 * aligners.size();
    const auto work = [&](Aligner& aligner) {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !tasks.empty() || done || error; });
            if (tasks.empty() || error) {
                return;
            }
            Task task = std::move(tasks.front());
            tasks.pop_front();
            changed.notify_all();
            lock.unlock();
            try {
                results[task.cue]
                    = align_one(cues[task.cue], task.sound.data(), task.sound.size(), task.offset, aligner);
            } catch (...) {
                const std::lock_guard<std::mutex> hold(mutex);
                error = error ? error : std::current_exception();
                changed.notify_all();
            }
        }
    };
    // False once an aligner failed: reading stops.
    const auto hand_over = [&](Task task) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return tasks.size() < capacity || error; });
        if (error) {
            return false;
        }
        tasks.push_back(std::move(task));
        changed.notify_all();
        return true;
    };

    std::vector<int16_t> pending; // the sound from sample `first` on
    int64_t first = 0;
    std::size_t next = 0;
    const auto window = [&](std::size_t cue) {
        return std::pair(sample_at(cues[cue].start - CUE_WIDENING_SECONDS),
                         sample_at(cues[cue].end + CUE_WIDENING_SECONDS));
    };
    // Hands over the cues whose sound is all read (every one left at the
    // end), then drops the sound no cue left needs.
    const auto hand_over_ready = [&](bool at_end) {
        const int64_t read = first + static_cast<int64_t>(pending.size());
        for (; next < order.size(); ++next) {
            const auto [start, end] = window(order[next]);
            const CueText& cue = cues[order[next]];
            // Not waited for: its sound would be held for as long as it lasts.
            const bool too_long = cue.end - cue.start > LONGEST_ALIGNED_CUE_SECONDS;
            if (end > read && !at_end && !too_long) {
                break;
            }
            const int64_t from = too_long ? first : std::clamp(start, first, read);
            const int64_t to = too_long ? first : std::clamp(end, from, read);
            if (!hand_over({order[next],
                            {pending.begin() + (from - first), pending.begin() + (to - first)},
                            static_cast<double>(from) / RECOGNISER_RATE})) {
                return false;
            }
        }
        const int64_t keep = next < order.size() ? std::min(window(order[next]).first, read) : read;
        if (keep > first) {
            pending.erase(pending.begin(), pending.begin() + (keep - first));
            first = keep;
        }
        return true;
    };
    std::vector<std::thread> threads;
    try {
        for (Aligner* aligner : aligners) {
            threads.emplace_back(work, std::ref(*aligner));
        }
        read_downmixed(input, pending, [&] { return hand_over_ready(false); });
        hand_over_ready(true);
    } catch (...) {
        const std::lock_guard<std::mutex> hold(mutex);
        error = error ? error : std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> hold(mutex);
        done = true;
        changed.notify_all();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return results;
}

} // namespace zendrik_mask
