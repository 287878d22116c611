// SPDX-License-Identifier: ISC
// The recogniser's side of zendrik live: a thread that reads the input from
// its ring, resamples it for the recogniser, decodes it in overlapping
// windows and sends every listed word back as input positions. What run()
// and the thread share is in Shared; nothing else crosses.
#ifndef ZENDRIK_LIVE_LISTENER_H
#define ZENDRIK_LIVE_LISTENER_H

#include "rings.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace zendrik_live {

constexpr std::size_t FIND_CAPACITY = 256;
constexpr std::size_t PATH_QUEUE = 4;

struct Decoder;

enum ListenerStatus : int { LISTENER_LOADING, LISTENER_LISTENING, LISTENER_FAILED };

struct Shared {
    Shared(double sample_rate, std::size_t ring_capacity) : input(ring_capacity), rate(sample_rate) {}
    ~Shared();
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    SampleRing input;
    Queue<Find, FIND_CAPACITY> finds;
    // Without the host's worker, the lists run() is asked for go to the
    // thread, which loads them itself; back come the lists in effect after.
    Queue<Path, PATH_QUEUE> requested;
    Queue<Path, PATH_QUEUE> in_effect;
    // A list loaded by the host's worker, for the thread to take up.
    std::atomic<Decoder*> loaded{nullptr};
    const double rate;
    // Every find that starts before this input position has been sent.
    std::atomic<uint64_t> decided_through{0};
    // Input samples the recogniser never heard: it fell a whole ring behind.
    std::atomic<uint64_t> lost{0};
    // The controls the thread needs, as run() last saw them.
    std::atomic<float> delay{5.0f};
    std::atomic<float> pad{0.05f};
    std::atomic<float> sensitivity{0.5f};
    std::atomic<int> status{LISTENER_LOADING};
    std::atomic<bool> stop{false};
    // The word list in effect, which the thread reads when it starts; the
    // threads that load lists and the state's save share it.
    std::mutex word_list_mutex;
    std::string word_list;
};

// The decoding windows for a delay and a pad, in seconds: each window is two
// hops long, so a word up to a hop long lies whole in one, and a window is
// decoded a hop after the last; a find is back within two hops and the
// decoding time, which must leave the pad and a margin before it airs.
double window_hop_seconds(double delay, double pad);

struct Listener;

// Starts the thread: it reads shared.word_list, loads the model and listens
// from the input written so far on, until stop_listener. Null when no thread
// could be started.
Listener* start_listener(Shared& shared);
void stop_listener(Shared& shared, Listener* listener);

// On the host's worker thread: the list at `path` read and the recogniser
// loaded for it, for the thread to take up between two windows, listening
// with the list before until then. Sets `in_effect` to the list in effect
// after, the list before when this one failed.
bool load_word_list(Shared& shared, const char* path, Path& in_effect);

// The path, `size` bytes with its end, as a Path; false when it is no C
// string of that size or does not fit.
bool to_path(const char* text, std::size_t size, Path& path);

} // namespace zendrik_live

#endif
