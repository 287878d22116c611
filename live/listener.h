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
#include <string>

namespace zendrik_live {

constexpr std::size_t FIND_CAPACITY = 256;

enum ListenerStatus : int { LISTENER_LOADING, LISTENER_LISTENING, LISTENER_FAILED };

struct Shared {
    Shared(double sample_rate, std::size_t ring_capacity) : input(ring_capacity), rate(sample_rate) {}
    SampleRing input;
    FindRing<FIND_CAPACITY> finds;
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
    // The word list the thread reads when it starts. Changed only while no
    // thread runs (the host restores the plugin's state outside run()).
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

} // namespace zendrik_live

#endif
