// SPDX-License-Identifier: ISC
// The audio thread's work for the real-time checks: blocks of every size
// through zendrik live with its controls moved between them and its
// recogniser running, set up beforehand so that nothing but run() remains.
#ifndef ZENDRIK_TESTS_LIVE_REALTIME_H
#define ZENDRIK_TESTS_LIVE_REALTIME_H

#include "live_host.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <unistd.h>

namespace zendrik_test {

struct LiveWorkload {
    LiveHost host{READINGS_RATE};
    std::vector<float> speech = readings();
    std::vector<float> out = std::vector<float>(speech.size());
    // Words the readings hold, so that finds come back to run().
    std::string list = "/tmp/zendrik-live-words-" + std::to_string(getpid()) + ".txt";

    LiveWorkload()
    {
        std::ofstream(list) << "dashwood\ndisposed\namiable\n";
        if (!host.restore_words(list)) {
            throw std::runtime_error("zendrik live did not take the word list");
        }
    }
    ~LiveWorkload() { std::remove(list.c_str()); }
    LiveWorkload(const LiveWorkload&) = delete;
    LiveWorkload& operator=(const LiveWorkload&) = delete;

    // Blocks run; with `freewheel`, run() waits for the recogniser between them.
    unsigned run(bool freewheel)
    {
        static constexpr uint32_t sizes[] = {1, 7, 64, 255, 512, 1000, 1024, 1025, 4096, 8192};
        host.control("freewheel") = freewheel ? 1.0f : 0.0f;
        unsigned blocks = 0;
        std::size_t at = 0;
        for (unsigned round = 0; at < speech.size(); ++round) {
            const uint32_t n = std::min<uint32_t>(sizes[round % 10], static_cast<uint32_t>(speech.size() - at));
            host.control("bleep") = round % 7 == 3 ? 1.0f : 0.0f;
            host.control("dump") = round % 11 == 5 ? 1.0f : 0.0f;
            host.control("auto") = round % 13 == 12 ? 0.0f : 1.0f;
            host.control("delay") = round % 17 == 16 ? 2.0f
                : round % 19 == 0                    ? std::numeric_limits<float>::quiet_NaN()
                                                     : 5.0f;
            host.control("level") = round % 5 == 4 ? 0.0f : 0.5f;
            host.control("pad") = round % 3 == 0 ? 0.3f : 0.05f;
            if (round % 23 == 0) {
                host.ask_words(); // answered on the notify port
            }
            host.run(speech.data() + at, out.data() + at, n);
            at += n;
            ++blocks;
        }
        host.run(speech.data(), out.data(), 0);
        return blocks + 1;
    }
};

} // namespace zendrik_test

#endif
