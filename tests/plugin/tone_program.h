// SPDX-License-Identifier: ISC
// What the tone tests share: random programs of controls and blocks that
// reach every edge, and the block check against the reference with its
// tally of samples one float ulp away.
#ifndef ZENDRIK_TESTS_TONE_PROGRAM_H
#define ZENDRIK_TESTS_TONE_PROGRAM_H

#include "support/reference.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tone_test {

using zendrik_test::bits;

constexpr uint32_t MAX_BLOCK = 8192;
constexpr uint32_t GUARD = 32; // samples past the block that must stay untouched
constexpr float SENTINEL = -12345.678f;

struct Tally {
    uint64_t samples = 0;
    uint64_t off_by_one = 0; // one float ulp from the reference
    uint64_t blocks = 0;
    int failures = 0;

    void report(const std::string& what) const
    {
        const double pct = samples ? 100.0 * static_cast<double>(off_by_one) / static_cast<double>(samples) : 0.0;
        std::printf(
            "[ tone     ] %s: %llu samples in %llu blocks, %llu (%.5f%%) one float ulp from std::sin, "
            "the rest identical\n",
            what.c_str(), static_cast<unsigned long long>(samples), static_cast<unsigned long long>(blocks),
            static_cast<unsigned long long>(off_by_one), pct);
        ::testing::Test::RecordProperty("samples", std::to_string(samples));
        ::testing::Test::RecordProperty("off_by_one", std::to_string(off_by_one));
    }
};

// Compares one block; returns false (after reporting) on the first fault.
inline bool check_block(const std::vector<float>& expected, const float* actual, uint32_t n, bool guarded, Tally& tally,
                        const char* context)
{
    for (uint32_t i = 0; i < n; ++i) {
        const float e = expected[i];
        const float a = actual[i];
        if (bits(e) == bits(a) || (std::isnan(e) && std::isnan(a))) {
            continue;
        }
        if (zendrik_test::ulp_distance(e, a) > 1) {
            ADD_FAILURE() << context << ": sample " << i << " of " << n << " is " << a << ", expected " << e;
            return false;
        }
        ++tally.off_by_one;
    }
    if (guarded) {
        for (uint32_t i = n; i < n + GUARD; ++i) {
            if (bits(actual[i]) != bits(SENTINEL)) {
                ADD_FAILURE() << context << ": wrote sample " << i << " past a block of " << n;
                return false;
            }
        }
    }
    tally.samples += n;
    ++tally.blocks;
    return true;
}

// Random controls, weighted toward what hosts send but with every edge.
struct Program {
    std::mt19937_64 rng;

    explicit Program(uint64_t seed) : rng(seed) {}

    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); }

    double sample_rate()
    {
        static constexpr double common[] = {44100, 48000, 96000, 8000, 192000, 22050, 88200};
        const uint32_t r = below(100);
        if (r < 1) return 0.0;
        if (r < 2) return -48000.0;
        if (r < 12) return std::floor(uniform(1.0, 400000.0));
        return common[below(7)];
    }

    float frequency(double rate)
    {
        const auto r = static_cast<float>(rate);
        const uint32_t k = below(100);
        if (k < 60) return static_cast<float>(uniform(0.0, 0.5 * rate));
        if (k < 68) return static_cast<float>(uniform(-20000.0, 0.0));
        if (k < 73) return r;
        if (k < 78) return static_cast<float>(uniform(rate, 3.0 * rate));
        if (k < 83) return 0.0f;
        if (k < 85) return std::numeric_limits<float>::quiet_NaN();
        if (k < 87) return std::numeric_limits<float>::infinity();
        if (k < 89) return -std::numeric_limits<float>::infinity();
        if (k < 91) return 1e30f;
        if (k < 93) return FLT_MIN / 4.0f; // denormal
        return static_cast<float>(uniform(0.0, 20.0));
    }

    float level()
    {
        const uint32_t k = below(100);
        if (k < 80) return static_cast<float>(uniform(-2.0, 2.0));
        if (k < 85) return 0.0f;
        if (k < 90) return 1.0f;
        if (k < 93) return FLT_MAX;
        if (k < 95) return std::numeric_limits<float>::quiet_NaN();
        if (k < 97) return std::numeric_limits<float>::infinity();
        return 1e-30f;
    }

    uint32_t block()
    {
        const uint32_t k = below(100);
        if (k < 35) return below(65);
        if (k < 65) return below(1025);
        if (k < 90) return below(MAX_BLOCK + 1);
        if (k < 95) return MAX_BLOCK;
        return 1 + below(17);
    }
};

} // namespace tone_test

#endif
