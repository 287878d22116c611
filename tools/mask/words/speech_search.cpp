// SPDX-License-Identifier: ISC
#include "speech_search.h"

#include "cpu_time.h"
#include "downmix.h"
#include "errors.h"
#include "progress.h"
#include "speech_presence.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace zendrik_mask {

namespace {

constexpr std::size_t HOP = static_cast<std::size_t>(STRETCH_HOP_SECONDS * RECOGNISER_RATE);
constexpr std::size_t STRETCH = HOP + static_cast<std::size_t>(STRETCH_OVERLAP_SECONDS * RECOGNISER_RATE);

// Silence heard before the file's first stretch and after its last: the
// recogniser misses a word that starts or ends the audio without some.
constexpr std::size_t EDGE_SILENCE = RECOGNISER_RATE;

struct Stretch {
    std::size_t index;
    std::vector<int16_t> samples;
    bool last = false;
};

// Stretches from the reader to the recognisers, a few at a time, so that
// memory stays the same for any length of file.
class StretchQueue {
public:
    explicit StretchQueue(std::size_t capacity) : capacity_(capacity) {}

    // False when the search has been given up.
    bool push(Stretch stretch)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        space_.wait(lock, [&] { return queue_.size() < capacity_ || stopped_; });
        if (stopped_) {
            return false;
        }
        queue_.push_back(std::move(stretch));
        ready_.notify_one();
        return true;
    }

    bool pop(Stretch& stretch)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return !queue_.empty() || closed_ || stopped_; });
        if (queue_.empty() || stopped_) {
            return false;
        }
        stretch = std::move(queue_.front());
        queue_.pop_front();
        space_.notify_one();
        return true;
    }

    // No more stretches will come.
    void close()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

    // Gives up: a recogniser failed, or reading did.
    void stop(std::exception_ptr error)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) {
            error_ = error;
        }
        stopped_ = true;
        ready_.notify_all();
        space_.notify_all();
    }

    std::exception_ptr error()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable space_;
    std::deque<Stretch> queue_;
    std::size_t capacity_;
    bool closed_ = false;
    bool stopped_ = false;
    std::exception_ptr error_;
};

// Words found by the stretch they belong to, by stretch.
class Findings {
public:
    void add(std::size_t index, std::vector<TimedWord> words)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        by_stretch_[index] = std::move(words);
    }

    // In order of time. Where two stretches both heard a word (one of them
    // perhaps only its end), the hearings become one, covering both.
    std::vector<TimedWord> in_order()
    {
        std::vector<TimedWord> all;
        for (auto& [index, words] : by_stretch_) {
            all.insert(all.end(), words.begin(), words.end());
        }
        std::stable_sort(all.begin(), all.end(),
                         [](const TimedWord& a, const TimedWord& b) { return a.start < b.start; });
        std::vector<TimedWord> kept;
        for (TimedWord& word : all) {
            TimedWord* same = nullptr;
            // Only words that started within the overlap can be the same one.
            for (auto k = kept.rbegin(); k != kept.rend() && k->start >= word.start - STRETCH_OVERLAP_SECONDS; ++k) {
                if (k->text == word.text && word.start < k->end) {
                    same = &*k;
                    break;
                }
            }
            if (!same) {
                kept.push_back(std::move(word));
                continue;
            }
            same->end = std::max(same->end, word.end);
            if (word.confidence > same->confidence) {
                same->confidence = word.confidence;
            }
        }
        return kept;
    }

private:
    std::mutex mutex_;
    std::map<std::size_t, std::vector<TimedWord>> by_stretch_;
};

void listen_to_stretches(Recogniser& recogniser, StretchQueue& queue, Findings& findings)
{
    try {
        Stretch stretch;
        while (queue.pop(stretch)) {
            const std::size_t lead = stretch.index == 0 ? EDGE_SILENCE : 0;
            const std::size_t count = stretch.samples.size();
            if (lead > 0 || stretch.last) {
                stretch.samples.insert(stretch.samples.begin(), lead, 0);
                stretch.samples.resize(lead + count + (stretch.last ? EDGE_SILENCE : 0), 0);
            }
            std::vector<TimedWord> words = recogniser.listen(stretch.samples.data(), stretch.samples.size());
            const double silence = static_cast<double>(lead) / RECOGNISER_RATE;
            const double length = static_cast<double>(count) / RECOGNISER_RATE;
            const double offset = static_cast<double>(stretch.index * HOP) / RECOGNISER_RATE;
            std::vector<TimedWord> owned;
            for (TimedWord& word : words) {
                // Times in the audio: whatever was heard in the silence lies at its edge.
                word.start = std::clamp(word.start - silence, 0.0, length);
                word.end = std::clamp(word.end - silence, word.start, length);
                // The next stretch decodes this one's overlap from its start.
                if (word.start >= STRETCH_HOP_SECONDS && count == STRETCH) {
                    continue;
                }
                word.start += offset;
                word.end += offset;
                owned.push_back(std::move(word));
            }
            findings.add(stretch.index, std::move(owned));
        }
    } catch (...) {
        queue.stop(std::current_exception());
    }
}

// Reads the input, cutting the stretches off as they fill; every sample
// is heard once by `presence`, in order.
void read_stretches(InputFile& input, StretchQueue& queue, bool show_progress, SpeechPresence& presence)
{
    Progress progress(show_progress, input.frames(), "finding words");
    std::vector<int16_t> pending; // from the start of the next stretch on
    std::size_t heard = 0;        // of pending, by presence
    std::size_t next = 0;
    bool stopped = false;
    auto emit_full = [&] {
        presence.add(pending.data() + heard, pending.size() - heard);
        heard = pending.size();
        while (pending.size() >= STRETCH) {
            if (!queue.push({next++, std::vector<int16_t>(pending.begin(), pending.begin() + STRETCH), false})) {
                stopped = true;
                return false;
            }
            pending.erase(pending.begin(), pending.begin() + HOP);
            heard -= HOP;
        }
        return true;
    };
    read_downmixed(input, pending, emit_full, [&](int64_t frames) { progress.update(frames); });
    if (stopped || !emit_full()) {
        return;
    }
    // The last stretch, shorter (never empty after a full one). Even when the
    // one before reached the end, the words that start after that one's hop
    // belong to this one.
    queue.push({next, std::move(pending), true});
}

} // namespace

std::vector<TimedWord> search_speech(InputFile& input, const SpeechSearch& search)
{
    // No more decoders (a model each) than there are stretches to decode.
    unsigned jobs = std::max(1u, search.jobs);
    if (input.frames() >= 0) {
        const double seconds = static_cast<double>(input.frames()) / input.info().samplerate;
        jobs = std::min(jobs, static_cast<unsigned>(seconds / STRETCH_HOP_SECONDS) + 1);
    }
    std::vector<std::unique_ptr<Recogniser>> recognisers;
    // Made one after another: loading a model is not safe on several threads.
    for (unsigned j = 0; j < jobs; ++j) {
        recognisers.push_back(search.make_recogniser());
    }
    StretchQueue queue(2 * jobs);
    Findings findings;
    SpeechPresence presence;
    std::vector<std::thread> threads;
    // The searchers' CPU time is the file's: a batch counts it.
    CpuAccount* const account = helper_cpu_account();
    try {
        for (auto& recogniser : recognisers) {
            threads.emplace_back([&recogniser, &queue, &findings, account] {
                listen_to_stretches(*recogniser, queue, findings);
                credit_cpu(account);
            });
        }
        read_stretches(input, queue, search.show_progress, presence);
    } catch (...) {
        // Also when a thread could not be started: those that were must end first.
        queue.stop(std::current_exception());
    }
    queue.close();
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (std::exception_ptr error = queue.error()) {
        std::rethrow_exception(error);
    }
    // Taken over the whole file once it is read, so the same for any number of jobs.
    presence.finish();
    std::vector<TimedWord> heard = findings.in_order();
    heard.erase(std::remove_if(heard.begin(), heard.end(),
                               [&](const TimedWord& word) { return !presence.holds_speech(word.start, word.end); }),
                heard.end());
    return heard;
}

} // namespace zendrik_mask
