// SPDX-License-Identifier: ISC
// Many instances on many threads at once: 16 instances, two to a thread on 8
// threads, each with its own sample rate, controls and random block sizes,
// every block checked against the recurrence. Built under ThreadSanitizer this
// proves that instances share nothing; in every build it proves that running
// side by side changes no sample.
#include "support/lv2_module.h"
#include "support/reference.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using zendrik_test::bits;
using zendrik_test::Instance;
using zendrik_test::ReferenceTone;

constexpr int THREADS = 8;
constexpr int INSTANCES_PER_THREAD = 2;
// Blocks per instance; ZENDRIK_STRESS_BLOCKS overrides it (valgrind runs fewer).
int blocks_per_instance()
{
    const char* env = std::getenv("ZENDRIK_STRESS_BLOCKS");
    return env && std::atoi(env) > 0 ? std::atoi(env) : 2000;
}
constexpr uint32_t MAX_BLOCK = 2048;

struct Lane {
    std::unique_ptr<Instance> plugin;
    ReferenceTone reference;
    std::mt19937 rng;
};

struct Outcome {
    long blocks = 0;
    long mismatches = 0;
    std::string first;
};

void drive(std::vector<Lane>& lanes, Outcome& outcome, const std::atomic<bool>& go, int block_count)
{
    while (!go.load(std::memory_order_acquire)) {
        std::this_thread::yield();
    }
    auto note = [&](const char* what, int lane, int block) {
        if (outcome.mismatches++ == 0) {
            outcome.first = std::string(what) + " (rate "
                + std::to_string(lanes[static_cast<size_t>(lane)].reference.sample_rate) + ", block "
                + std::to_string(block) + ")";
        }
    };
    std::vector<float> in, out, expected;
    for (int block = 0; block < block_count; ++block) {
        for (int l = 0; l < static_cast<int>(lanes.size()); ++l) {
            Lane& lane = lanes[static_cast<size_t>(l)];
            auto& rng = lane.rng;
            // Mostly tone, with pass-through now and then so that bursts
            // restart; new controls now and then.
            lane.plugin->enable = rng() % 5 == 0 ? 0.0f : 1.0f;
            if (rng() % 8 == 0) {
                lane.plugin->frequency = std::uniform_real_distribution<float>(20.0f, 20000.0f)(rng);
                lane.plugin->level = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
            }
            const uint32_t n = rng() % 7 == 0 ? 0 : static_cast<uint32_t>(rng() % (MAX_BLOCK + 1));
            // Buffers exactly the block's size, fresh for each block.
            in.assign(n, 0.0f);
            for (auto& v : in) {
                v = std::uniform_real_distribution<float>(-1.0f, 1.0f)(rng);
            }
            out.assign(n, std::numeric_limits<float>::quiet_NaN());
            expected.assign(n, 0.0f);

            const double phase_before = lane.plugin->record().phase;
            lane.plugin->process(in.data(), out.data(), n);
            if (n == 0) {
                if (bits(lane.plugin->record().phase) != bits(phase_before)) {
                    note("an empty block moved the phase", l, block);
                }
            } else if (lane.plugin->enable > 0.5f) {
                lane.reference.tone(lane.plugin->frequency, lane.plugin->level, expected.data(), n);
                for (uint32_t i = 0; i < n; ++i) {
                    if (zendrik_test::ulp_distance(out[i], expected[i]) > 1) {
                        note("tone sample more than 1 ulp off", l, block);
                        break;
                    }
                }
            } else {
                lane.reference.pass(n);
                if (std::memcmp(in.data(), out.data(), n * sizeof(float)) != 0) {
                    note("pass-through changed the input", l, block);
                }
            }
            if (bits(lane.plugin->record().phase) != bits(lane.reference.phase)) {
                note("phase differs from the recurrence", l, block);
            }
            ++outcome.blocks;
        }
    }
}

TEST(Stress, SixteenInstancesOnEightThreadsMatchTheRecurrence)
{
    zendrik_test::Lv2Module module;
    const double rates[THREADS * INSTANCES_PER_THREAD] = {
        44100, 48000, 96000, 22050,  8000,  192000, 32000, 88200,
        11025, 16000, 24000, 176400, 64000, 37800,  50000, 384000,
    };
    std::vector<std::vector<Lane>> lanes(THREADS);
    for (int t = 0; t < THREADS; ++t) {
        for (int k = 0; k < INSTANCES_PER_THREAD; ++k) {
            const int index = t * INSTANCES_PER_THREAD + k;
            const double rate = rates[index];
            Lane lane{std::make_unique<Instance>(module.descriptor(), rate), ReferenceTone{rate},
                      std::mt19937(static_cast<uint32_t>(1000 + index))};
            lane.plugin->frequency = 110.0f * static_cast<float>(index + 1);
            lane.plugin->level = 1.0f / static_cast<float>(index + 1);
            lanes[static_cast<size_t>(t)].push_back(std::move(lane));
        }
    }

    const int block_count = blocks_per_instance();
    std::atomic<bool> go{false};
    std::vector<Outcome> outcomes(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back(drive, std::ref(lanes[static_cast<size_t>(t)]), std::ref(outcomes[static_cast<size_t>(t)]),
                             std::cref(go), block_count);
    }
    go.store(true, std::memory_order_release);
    for (auto& th : threads) {
        th.join();
    }

    long blocks = 0;
    for (int t = 0; t < THREADS; ++t) {
        const Outcome& o = outcomes[static_cast<size_t>(t)];
        blocks += o.blocks;
        EXPECT_EQ(o.mismatches, 0) << "thread " << t << ": " << o.first;
    }
    EXPECT_EQ(blocks, long{THREADS} * INSTANCES_PER_THREAD * block_count);
    std::printf("stress: %ld blocks checked on %d threads, %d instances\n", blocks, THREADS,
                THREADS * INSTANCES_PER_THREAD);
}

} // namespace
