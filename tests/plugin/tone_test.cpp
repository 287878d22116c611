// SPDX-License-Identifier: ISC
// The tone's samples and phase, where sample accuracy has its one home.
// Against the reference (support/reference.h), long random programs of tone
// and pass-through blocks (block sizes 0 to 8192, every kind of frequency,
// level and sample rate, non-finite ones included) check after every block
// that
//   - the phase is bit for bit the reference's,
//   - every sample is within one float ulp of the reference (NaN where it is
//     NaN) and nothing is written past the block,
//   - pass-through copies exactly and resets the phase.
// Each kernel runs on its own, so every path this CPU has is covered; the
// module runs through lv2_descriptor with whatever kernel it picks, on
// chosen controls and on a random program. A few exact cases have oracles of
// their own.
#include "support/lv2_module.h"
#include "support/reference.h"
#include "tone.h"
#include "tone_program.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if ZENDRIK_HAVE_LIBMVEC
#include <sys/platform/x86.h>
#endif

namespace {

using zendrik_test::bits;
using zendrik_test::descriptor;
using zendrik_test::Instance;
using zendrik_test::reference_tone;
using zendrik_test::ReferenceTone;
using zendrik_test::tone_increment;
using zendrik_test::TWO_PI;
using namespace tone_test;

// A kernel from tone.h, compiled into this test.
using Kernel = double (*)(float*, uint32_t, double, double, double);

// Runs blocks straight through one kernel, with phases and controls drawn as
// above, until at least `target` samples went through.
Tally sweep_kernel(Kernel kernel, uint64_t target, uint64_t seed)
{
    Program p(seed);
    Tally tally;
    std::vector<float> expected(MAX_BLOCK);
    std::vector<float> actual(MAX_BLOCK + GUARD);
    while (tally.samples < target && tally.failures == 0) {
        const double rate = p.sample_rate();
        double phase = 0.0;
        double ref_phase = 0.0;
        if (p.below(4) == 0) {
            // Start anywhere: in the cycle, far out, or negative.
            static constexpr double starts[] = {1.0, 3.14159, 6.2831853, 1e6, -50.0, 1e15};
            phase = ref_phase = p.below(2) ? p.uniform(0.0, TWO_PI) : starts[p.below(6)];
        }
        for (uint32_t segment = 1 + p.below(6); segment > 0; --segment) {
            const double increment = tone_increment(p.frequency(rate), rate);
            const double level = p.level();
            for (uint32_t b = 1 + p.below(4); b > 0; --b) {
                const uint32_t n = p.block();
                std::fill(actual.begin(), actual.end(), SENTINEL);
                ref_phase = reference_tone(expected.data(), n, ref_phase, increment, level);
                phase = kernel(actual.data(), n, phase, increment, level);
                if (bits(phase) != bits(ref_phase)) {
                    ADD_FAILURE() << "phase " << phase << " after a block of " << n << ", expected " << ref_phase
                                  << " (increment " << increment << ")";
                    return tally;
                }
                if (!check_block(expected, actual.data(), n, true, tally, "kernel")) {
                    ++tally.failures;
                    return tally;
                }
            }
        }
    }
    return tally;
}

struct KernelCase {
    const char* name;
    Kernel kernel;
    bool (*available)();
};

// Keeps test names readable (and free of addresses) in GoogleTest and CTest.
void PrintTo(const KernelCase& c, std::ostream* os)
{
    *os << c.name;
}

bool always()
{
    return true;
}

#if ZENDRIK_HAVE_LIBMVEC
// Asked at run time, from what glibc found out about this CPU (and what a
// simulator such as valgrind lets it see), as the module itself does.
bool has_avx2()
{
    return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(FMA);
}
bool has_avx512()
{
    return CPU_FEATURE_ACTIVE(AVX512F);
}
#endif

const KernelCase KERNELS[] = {
    {"scalar", zendrik::tone_scalar, always},
#if ZENDRIK_HAVE_LIBMVEC
    {"sse2", zendrik::tone_sse2, always},
    {"avx2", zendrik::tone_avx2, has_avx2},
    {"avx512", zendrik::tone_avx512, has_avx512},
#endif
};

class KernelTest : public ::testing::TestWithParam<KernelCase> {};

TEST_P(KernelTest, MatchesTheRecurrenceWithStdSin)
{
    const KernelCase& k = GetParam();
    if (!k.available()) {
        GTEST_SKIP() << "this CPU (or the simulator running the test) has no " << k.name;
    }
    const Tally tally = sweep_kernel(k.kernel, 2'000'000, 0x7a656e64 + std::string(k.name).size());
    tally.report(std::string("kernel ") + k.name);
    if (std::string(k.name) == "scalar") {
        // The fallback uses std::sin itself: it must agree to the bit.
        EXPECT_EQ(tally.off_by_one, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelTest, ::testing::ValuesIn(KERNELS),
                         [](const ::testing::TestParamInfo<KernelCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

// Vector lanes are independent and short blocks are padded, never read past:
// at vector edges the samples must not depend on how the tone is cut.
TEST_P(KernelTest, AnySplitGivesTheSameSamples)
{
    const KernelCase& k = GetParam();
    if (!k.available()) {
        GTEST_SKIP() << "this CPU (or the simulator running the test) has no " << k.name;
    }
    constexpr uint32_t total = 3000;
    const double increment = tone_increment(440.0, 48000.0);
    std::vector<float> whole(total);
    const double end = k.kernel(whole.data(), total, 0.25, increment, 0.8);
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<float> cut(total);
        double phase = 0.25;
        uint32_t done = 0;
        while (done < total) {
            const uint32_t n = std::min<uint32_t>(total - done, std::uniform_int_distribution<uint32_t>(0, 40)(rng));
            phase = k.kernel(cut.data() + done, n, phase, increment, 0.8);
            done += n;
        }
        ASSERT_EQ(bits(phase), bits(end));
        ASSERT_EQ(0, std::memcmp(whole.data(), cut.data(), total * sizeof(float))) << "round " << round;
    }
}

// Tone blocks through the module, each block's samples and the phase after
// it checked against the reference's.
struct ModuleCheck {
    Tally tally;
    std::vector<float> expected = std::vector<float>(MAX_BLOCK);
    std::vector<float> buffer = std::vector<float>(MAX_BLOCK + GUARD);

    bool tone_block(Instance& plugin, double rate, const float* in, uint32_t n, double& ref_phase)
    {
        std::fill(buffer.begin(), buffer.end(), SENTINEL);
        plugin.process(in, buffer.data(), n);
        ref_phase = reference_tone(expected.data(), n, ref_phase, tone_increment(plugin.frequency, rate), plugin.level);
        if (bits(plugin.record().phase) != bits(ref_phase)) {
            ADD_FAILURE() << "phase after a tone block of " << n << " at " << plugin.frequency << " Hz, level "
                          << plugin.level << ", rate " << rate;
            return false;
        }
        return check_block(expected, buffer.data(), n, true, tally, "module");
    }
};

// Chosen controls through the module: levels of either sign and zero,
// standing still, falling, at and above the sample rate, a huge level.
TEST(Tone, ChosenControlsMatchTheRecurrenceWithStdSin)
{
    ModuleCheck check;
    struct Case {
        float frequency, level;
    };
    for (Case c : {Case{1000.0f, 0.5f}, Case{440.0f, -1.0f}, Case{0.0f, 1.0f}, Case{-250.0f, 0.75f},
                   Case{48000.0f, 1.0f}, Case{50000.0f, 1.0f}, Case{19999.5f, 0.0f}, Case{1.0f, 1e30f}}) {
        Instance plugin(descriptor(), 48000.0);
        plugin.enable = 1.0f;
        plugin.frequency = c.frequency;
        plugin.level = c.level;
        double ref_phase = 0.0;
        for (int block = 0; block < 4; ++block) {
            ASSERT_TRUE(check.tone_block(plugin, 48000.0, nullptr, 4096, ref_phase));
        }
    }
}

// The module through its descriptor, as a host drives it: a random program
// of tone blocks with the input connected, unconnected or the same buffer as
// the output, and pass-through blocks, in place or not, between them.
TEST(Module, MatchesTheRecurrenceWithStdSinOverTenMillionSamples)
{
    Program p(20240601);
    ModuleCheck check;
    Tally& tally = check.tally;
    std::vector<float>& buffer = check.buffer;
    std::vector<float> input(MAX_BLOCK);
    for (auto& x : input) {
        x = static_cast<float>(p.uniform(-1.0, 1.0));
    }

    while (tally.samples < 10'000'000) {
        const double rate = p.sample_rate();
        Instance plugin(descriptor(), rate);
        double ref_phase = 0.0;
        for (uint32_t segment = 1 + p.below(6); segment > 0; --segment) {
            plugin.frequency = p.frequency(rate);
            plugin.level = p.level();
            plugin.enable = 1.0f;
            for (uint32_t b = 1 + p.below(4); b > 0; --b) {
                const uint32_t n = p.block();
                const uint32_t wiring = p.below(3);
                const float* in = wiring == 0 ? input.data() : wiring == 1 ? nullptr : buffer.data();
                ASSERT_TRUE(check.tone_block(plugin, rate, in, n, ref_phase));
            }
            if (p.below(3) == 0) {
                const uint32_t n = p.block();
                plugin.enable = p.below(2) ? 0.0f : 0.5f;
                const bool in_place = p.below(2);
                if (in_place) {
                    std::copy(input.begin(), input.begin() + n, buffer.begin());
                    plugin.process(buffer.data(), buffer.data(), n);
                } else {
                    std::fill(buffer.begin(), buffer.end(), SENTINEL);
                    plugin.process(input.data(), buffer.data(), n);
                }
                ASSERT_EQ(0, std::memcmp(buffer.data(), input.data(), n * sizeof(float))) << "pass-through of " << n;
                if (n > 0) {
                    ref_phase = 0.0;
                }
                ASSERT_EQ(bits(plugin.record().phase), bits(ref_phase));
            }
        }
    }
    tally.report("module");
}

// Chosen cases through the module, each with an oracle of its own: exact
// quarter turns, the phase's shape at the edge frequencies, signed zeros.
TEST(Tone, QuarterRateRunsThroughExactQuartersAndWrapsToZero)
{
    Instance inst(descriptor(), 48000.0);
    inst.enable = 1.0f;
    inst.frequency = 12000.0f;
    inst.level = 1.0f;
    const double expected_phase[] = {TWO_PI / 4, TWO_PI / 2, 3 * TWO_PI / 4, 0.0, TWO_PI / 4};
    const float expected_out[] = {0.0f, 1.0f, static_cast<float>(std::sin(TWO_PI / 2)), -1.0f, 0.0f};
    for (int i = 0; i < 5; ++i) {
        float out = 99.0f;
        inst.process(nullptr, &out, 1);
        EXPECT_EQ(bits(inst.record().phase), bits(expected_phase[i])) << "after sample " << i;
        EXPECT_EQ(out, expected_out[i]) << "sample " << i;
    }
    EXPECT_GT(expected_out[2], 0.0f); // sin(pi) in doubles is tiny, not zero
}

TEST(Tone, EdgeFrequenciesShapeThePhaseAsTheRecurrenceSays)
{
    Instance inst(descriptor(), 48000.0);
    std::vector<float> out(1000);
    inst.enable = 1.0f;

    // Standing still: zeros after a reset, whatever the level.
    inst.frequency = 0.0f;
    inst.process(nullptr, out.data(), 1000);
    EXPECT_EQ(bits(inst.record().phase), bits(0.0));
    for (float s : out) {
        ASSERT_EQ(s, 0.0f);
    }

    // Falling phase: never wrapped back up.
    inst.frequency = -1000.0f;
    inst.process(nullptr, out.data(), 1000);
    EXPECT_NEAR(inst.record().phase, -1000.0 * TWO_PI * 1000 / 48000, 1e-9);

    // Above the sample rate one subtraction a sample cannot keep up: the
    // phase grows without bound.
    inst.frequency = 96000.0f;
    inst.process(nullptr, out.data(), 1000);
    EXPECT_GT(inst.record().phase, 900 * TWO_PI);
}

TEST(Tone, ZeroLevelWritesSignedZerosAndStillAdvances)
{
    Instance inst(descriptor(), 48000.0);
    inst.enable = 1.0f;
    inst.frequency = 1000.0f;
    inst.level = 0.0f;
    std::vector<float> out(48, 1.0f);
    inst.process(nullptr, out.data(), 48); // one full cycle
    for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0.0f);
        // Negative zeros where the sine is negative; sample 24 sits on pi
        // itself, where the sign depends on the last bit of the phase.
        if (i != 24) {
            EXPECT_EQ(std::signbit(out[i]), i > 24) << i;
        }
    }
    ReferenceTone ref{48000.0};
    ref.tone(1000.0f, 0.0f, out.data(), 48);
    EXPECT_EQ(bits(inst.record().phase), bits(ref.phase));
    EXPECT_NE(ref.phase, 0.0);
}

} // namespace
