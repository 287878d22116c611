// SPDX-License-Identifier: ISC
#include "listener.h"

#include "downmix.h"
#include "model_files.h"
#include "pronunciation_guess.h"
#include "pronunciations.h"
#include "recogniser.h"
#include "text_input.h"
#include "word_list.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace zendrik_live {

using namespace zendrik_mask;

// What the thread decodes with, for one list and one sensitivity.
struct Decoder {
    std::string word_list;
    std::vector<WordPattern> patterns;
    double sensitivity = -1.0;
    std::unique_ptr<Recogniser> recogniser;
};

namespace {

// Input read from the ring at a time.
constexpr std::size_t READ_BLOCK = 4096;
// The longest a window's hop gets: past it, a longer delay only adds margin.
constexpr double LONGEST_HOP = 3.0;
constexpr double SHORTEST_HOP = 0.1;

void plan(Decoder& decoder, double sensitivity)
{
    const std::string dictionary = file_beside_model(DEFAULT_MODEL_DIR, ".dict");
    const std::string language_model = file_beside_model(DEFAULT_MODEL_DIR, ".lm.bin");
    if (dictionary.empty() || language_model.empty()) {
        throw bad_input(std::string("no model in '") + DEFAULT_MODEL_DIR + "' (install Debian's pocketsphinx-en-us)");
    }
    TextInput text(dictionary, "dictionary", DICTIONARY_LIMITS);
    DecodingPlan planned
        = plan_decoding(decoder.patterns, {Dictionary{dictionary, &text}}, sensitivity, guess_pronunciation);
    decoder.recogniser = make_pocketsphinx({DEFAULT_MODEL_DIR, dictionary, language_model,
                                            std::move(planned.pronunciations), std::move(planned.listed), ""});
    decoder.sensitivity = sensitivity;
}

// The list at `path` read and the recogniser loaded for it; null when either
// fails.
std::unique_ptr<Decoder> prepared(const Shared& shared, const std::string& path)
{
    try {
        auto decoder = std::make_unique<Decoder>();
        decoder->word_list = path;
        TextInput list(path, "word list", WORD_LIST_LIMITS);
        decoder->patterns = parse_word_list(list, path);
        if (decoder->patterns.empty()) {
            throw bad_input("word list '" + path + "' holds no words");
        }
        plan(*decoder, shared.sensitivity.load(std::memory_order_relaxed));
        return decoder;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zendrik live: the word list was not loaded: %s\n", error.what());
        return nullptr;
    }
}

void list_in_effect(Shared& shared, Path& path)
{
    const std::lock_guard<std::mutex> lock(shared.word_list_mutex);
    if (!to_path(shared.word_list.c_str(), shared.word_list.size() + 1, path)) {
        path.text[0] = '\0';
    }
}

// The finds sent lately, so that a word heard whole in two windows goes back once.
struct Sent {
    std::size_t pattern;
    uint64_t start, end;
};

class Listening {
public:
    Listening(Shared& shared, uint64_t from)
        : shared_(shared), downmix_(std::make_unique<Downmix>(static_cast<int>(shared.rate))), next_(from),
          origin_(from)
    {
    }

    // The list in effect from the next window on.
    void take(std::unique_ptr<Decoder> decoder)
    {
        const std::lock_guard<std::mutex> lock(shared_.word_list_mutex);
        shared_.word_list = decoder->word_list;
        decoder_ = std::move(decoder);
    }

    void run()
    {
        std::vector<float> block(READ_BLOCK);
        while (!shared_.stop.load(std::memory_order_acquire)) {
            take_up_lists();
            std::size_t count = 0;
            const uint64_t at = shared_.input.read(next_, block.data(), block.size(), count);
            if (at != next_) {
                shared_.lost.fetch_add(at - next_, std::memory_order_relaxed);
                restart(at);
            }
            next_ = at + count;
            if (decoder_) {
                downmix_->add(block.data(), count, 1, pending_);
                decode_ready();
            } else {
                // No list to listen for: the input passes.
                shared_.decided_through.store(next_, std::memory_order_release);
            }
            if (count == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    }

private:
    // The input position of a sample at the recogniser's rate.
    uint64_t position(std::size_t heard) const
    {
        return origin_
            + static_cast<uint64_t>(std::llround(static_cast<double>(heard) * shared_.rate / RECOGNISER_RATE));
    }

    // Lists asked for are loaded here, those the host's worker loaded taken
    // up; meanwhile the input waits in its ring. A new list starts with the
    // next window.
    void take_up_lists()
    {
        const Decoder* before = decoder_.get();
        Path path;
        while (shared_.requested.pop(path)) {
            shared_.status.store(LISTENER_LOADING, std::memory_order_release);
            if (std::unique_ptr<Decoder> next = prepared(shared_, path.text)) {
                take(std::move(next));
            }
            list_in_effect(shared_, path);
            // run() takes these every block: the queue is full only while
            // the host stopped calling it, when an answer may as well be lost.
            shared_.in_effect.push(path);
        }
        if (Decoder* next = shared_.loaded.exchange(nullptr, std::memory_order_acq_rel)) {
            take(std::unique_ptr<Decoder>(next));
        }
        if (decoder_.get() != before) {
            sent_.clear(); // they name the patterns of the list before
            if (!before) {
                restart(next_);
            }
        }
        shared_.status.store(decoder_ ? LISTENER_LISTENING : LISTENER_FAILED, std::memory_order_release);
    }

    // Listening again from `at` on: after samples never read, or with a
    // list after none.
    void restart(uint64_t at)
    {
        downmix_ = std::make_unique<Downmix>(static_cast<int>(shared_.rate));
        pending_.clear();
        origin_ = at;
        first_ = 0;
        window_ = 0;
        shared_.decided_through.store(at, std::memory_order_release);
    }

    void decode_ready()
    {
        for (;;) {
            const double hop_seconds = window_hop_seconds(shared_.delay.load(std::memory_order_relaxed),
                                                          shared_.pad.load(std::memory_order_relaxed));
            const auto hop = static_cast<std::size_t>(hop_seconds * RECOGNISER_RATE);
            if (window_ + 2 * hop > first_ + pending_.size() || shared_.stop.load(std::memory_order_acquire)) {
                return;
            }
            const float sensitivity = shared_.sensitivity.load(std::memory_order_relaxed);
            if (std::fabs(sensitivity - decoder_->sensitivity) > 1e-3) {
                plan(*decoder_, sensitivity);
            }
            const std::vector<TimedWord> heard
                = decoder_->recogniser->listen(pending_.data() + (window_ - first_), 2 * hop);
            WordMatcher matcher(decoder_->patterns);
            for (const TimedWord& word : heard) {
                matcher.add(word);
            }
            for (const FoundWord& found : matcher.found()) {
                const double asked = decoder_->patterns[found.pattern].sensitivity.value_or(decoder_->sensitivity);
                if (sure_enough(found, asked)) {
                    send(found);
                }
            }
            window_ += hop;
            shared_.decided_through.store(position(window_), std::memory_order_release);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(window_ - first_));
            first_ = window_;
        }
    }

    void send(const FoundWord& found)
    {
        const double from = static_cast<double>(window_) + found.start * RECOGNISER_RATE;
        const double to = static_cast<double>(window_) + found.end * RECOGNISER_RATE;
        const Find find{position(static_cast<std::size_t>(std::max(0.0, from))),
                        position(static_cast<std::size_t>(std::max(0.0, to)))};
        const bool again = std::any_of(sent_.begin(), sent_.end(), [&](const Sent& before) {
            return before.pattern == found.pattern && before.start < find.end && find.start < before.end;
        });
        if (again) {
            return;
        }
        sent_.push_back({found.pattern, find.start, find.end});
        if (sent_.size() > 64) {
            sent_.erase(sent_.begin());
        }
        // run() takes the finds every block; the ring fills only while the
        // host stopped calling it.
        while (!shared_.finds.push(find) && !shared_.stop.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    Shared& shared_;
    std::unique_ptr<Decoder> decoder_; // null while no list could be loaded
    std::unique_ptr<Downmix> downmix_;
    std::vector<int16_t> pending_; // at the recogniser's rate, from `first_` on
    uint64_t next_ = 0;            // the next input position to read
    uint64_t origin_ = 0;          // the input position the resampled count starts at
    std::size_t first_ = 0;        // resampled samples dropped before pending_
    std::size_t window_ = 0;       // where the next window starts, resampled
    std::vector<Sent> sent_;
};

// A list that cannot be loaded leaves the thread running without one, so
// that another list can still be given.
void listen(Shared& shared, std::string word_list, uint64_t from)
{
    try {
        Listening listening(shared, from);
        if (std::unique_ptr<Decoder> decoder = prepared(shared, word_list)) {
            listening.take(std::move(decoder));
            shared.status.store(LISTENER_LISTENING, std::memory_order_release);
        } else {
            shared.status.store(LISTENER_FAILED, std::memory_order_release);
        }
        listening.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zendrik live: the recogniser stopped: %s\n", error.what());
        shared.status.store(LISTENER_FAILED, std::memory_order_release);
    }
}

} // namespace

double window_hop_seconds(double delay, double pad)
{
    const double margin = std::max(0.2, 0.25 * delay);
    return std::clamp((delay - pad - margin) / 2.0, SHORTEST_HOP, LONGEST_HOP);
}

Shared::~Shared()
{
    delete loaded.load(std::memory_order_acquire);
}

bool to_path(const char* text, std::size_t size, Path& path)
{
    if (size == 0 || size > PATH_CAPACITY || text[size - 1] != '\0' || std::strlen(text) + 1 != size) {
        return false;
    }
    std::memcpy(path.text, text, size);
    return true;
}

bool load_word_list(Shared& shared, const char* path, Path& in_effect)
{
    std::unique_ptr<Decoder> decoder = prepared(shared, path);
    if (!decoder) {
        list_in_effect(shared, in_effect);
        return false;
    }
    to_path(path, std::strlen(path) + 1, in_effect);
    // One not taken up yet is replaced.
    delete shared.loaded.exchange(decoder.release(), std::memory_order_acq_rel);
    return true;
}

struct Listener {
    std::thread thread;
};

Listener* start_listener(Shared& shared)
{
    try {
        shared.stop.store(false, std::memory_order_release);
        shared.status.store(LISTENER_LOADING, std::memory_order_release);
        auto listener = std::make_unique<Listener>();
        // From the input written so far on: all of it, at the start. What
        // comes in while the model loads waits in the ring.
        const uint64_t from = shared.input.written();
        shared.decided_through.store(from, std::memory_order_release);
        const std::lock_guard<std::mutex> lock(shared.word_list_mutex);
        listener->thread = std::thread(listen, std::ref(shared), shared.word_list, from);
        return listener.release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void stop_listener(Shared& shared, Listener* listener)
{
    shared.stop.store(true, std::memory_order_release);
    if (listener) {
        listener->thread.join();
        delete listener;
    }
}

} // namespace zendrik_live
