// SPDX-License-Identifier: ISC
// The plugin as a host sees it: loaded with dlopen, reached through
// lv2_descriptor, checked against the reference tone (support/reference.h).
#include "support/lv2_module.h"
#include "support/reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using zendrik_test::bits;
using zendrik_test::descriptor;
using zendrik_test::Instance;
using zendrik_test::Lv2Module;
using zendrik_test::ReferenceTone;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

void expect_tone(const std::vector<float>& expected, const float* actual, const char* what)
{
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_LE(zendrik_test::ulp_distance(expected[i], actual[i]), 1)
            << what << ": sample " << i << " is " << actual[i] << ", expected " << expected[i];
    }
}

std::vector<float> noise(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (auto& x : v) {
        x = dist(rng);
    }
    return v;
}

} // namespace

TEST(Descriptor, EnumeratesExactlyOnePlugin)
{
    Lv2Module module;
    const LV2_Descriptor* first = module.entry()(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, module.entry()(0));
    EXPECT_EQ(module.entry()(1), nullptr);
    EXPECT_EQ(module.entry()(UINT32_MAX), nullptr);

    const std::string uri = first->URI;
    EXPECT_EQ(uri, ZENDRIK_URI);
    EXPECT_EQ(uri.rfind("http://", 0), 0u);
    const std::string tail = "/plugins/zendrik";
    ASSERT_GE(uri.size(), tail.size());
    EXPECT_EQ(uri.substr(uri.size() - tail.size()), tail);

    EXPECT_NE(first->instantiate, nullptr);
    EXPECT_NE(first->connect_port, nullptr);
    EXPECT_NE(first->run, nullptr);
    EXPECT_NE(first->cleanup, nullptr);
    EXPECT_EQ(first->activate, nullptr);
    EXPECT_EQ(first->deactivate, nullptr);
    EXPECT_EQ(first->extension_data, nullptr);
}

TEST(Instance, StartsUnconnectedAtPhaseZeroWithItsExactRate)
{
    const LV2_Descriptor* d = descriptor();
    for (double rate : {44100.0, 48000.0, 96000.0 + 1e-9, 0.0, -1.0, std::nan("")}) {
        LV2_Handle h = d->instantiate(d, rate, "", nullptr);
        ASSERT_NE(h, nullptr);
        const auto& r = *static_cast<const PluginInstance*>(h);
        EXPECT_EQ(r.frequency, nullptr);
        EXPECT_EQ(r.level, nullptr);
        EXPECT_EQ(r.enable, nullptr);
        EXPECT_EQ(r.input, nullptr);
        EXPECT_EQ(r.output, nullptr);
        EXPECT_EQ(bits(r.sample_rate), bits(rate));
        EXPECT_EQ(bits(r.phase), bits(0.0));
        d->cleanup(h);
    }
}

TEST(Instance, ConnectPortStoresTheLastAddressAndIgnoresUnknownPorts)
{
    Instance inst(descriptor(), 48000.0);
    float a[4], b[4];
    inst.connect(PORT_INPUT, a);
    inst.connect(PORT_OUTPUT, a);
    inst.connect(PORT_INPUT, b);
    EXPECT_EQ(inst.record().input, b);
    EXPECT_EQ(inst.record().output, a);

    const PluginInstance before = inst.record();
    float stray = 0.0f;
    for (uint32_t port : {5u, 6u, 1000u, UINT32_MAX}) {
        inst.connect(port, &stray);
    }
    EXPECT_EQ(std::memcmp(&before, &inst.record(), sizeof before), 0);
    EXPECT_EQ(inst.record().frequency, &inst.frequency);
    EXPECT_EQ(inst.record().level, &inst.level);
    EXPECT_EQ(inst.record().enable, &inst.enable);
}

TEST(Switch, ThresholdIsStrictlyAboveHalfAndNaNPasses)
{
    Instance inst(descriptor(), 48000.0);
    const auto in = noise(64, 1);
    std::vector<float> out(64);
    struct Case {
        float enable;
        bool tone;
    };
    for (Case c : {Case{0.5f, false}, Case{NaN, false}, Case{-INF, false}, Case{0.0f, false},
                   Case{std::nextafter(0.5f, 1.0f), true}, Case{1.0f, true}, Case{INF, true}}) {
        inst.enable = 1.0f; // leave a non-zero phase behind
        inst.process(in.data(), out.data(), 3);
        inst.enable = c.enable;
        inst.process(in.data(), out.data(), 64);
        if (c.tone) {
            EXPECT_NE(inst.record().phase, 0.0) << "enable " << c.enable;
        } else {
            EXPECT_EQ(std::memcmp(in.data(), out.data(), 64 * sizeof(float)), 0) << "enable " << c.enable;
            EXPECT_EQ(bits(inst.record().phase), bits(0.0)) << "enable " << c.enable;
        }
    }
}

TEST(Blocks, EmptyBlockTouchesNothingAndKeepsThePhase)
{
    Instance inst(descriptor(), 48000.0);
    std::vector<float> out(10);
    inst.enable = 1.0f;
    inst.process(nullptr, out.data(), 10);
    const double phase = inst.record().phase;
    ASSERT_NE(phase, 0.0);

    // Every port null: an empty block must not read any of them.
    for (uint32_t port = 0; port <= PORT_OUTPUT; ++port) {
        inst.connect(port, nullptr);
    }
    inst.run(0);
    EXPECT_EQ(bits(inst.record().phase), bits(phase));

    inst.connect(PORT_ENABLE, &inst.enable);
    inst.enable = 0.0f;
    inst.connect(PORT_INPUT, nullptr);
    inst.run(0);
    EXPECT_EQ(bits(inst.record().phase), bits(phase));
}

TEST(Bursts, ContinueAcrossToneBlocksAndRestartAfterPassThrough)
{
    Instance inst(descriptor(), 44100.0);
    ReferenceTone ref{44100.0};
    const auto in = noise(300, 7);
    std::vector<float> out(300), expected(300);
    inst.enable = 1.0f;
    inst.frequency = 997.0f;
    inst.level = 0.8f;

    inst.process(nullptr, out.data(), 300);
    ref.tone(997.0f, 0.8f, expected.data(), 300);
    EXPECT_EQ(out[0], 0.0f);
    inst.process(nullptr, out.data(), 300);
    ref.tone(997.0f, 0.8f, expected.data(), 300);
    expect_tone(expected, out.data(), "second tone block continues");
    EXPECT_NE(out[0], 0.0f);

    inst.enable = 0.0f;
    inst.process(in.data(), out.data(), 1);
    ref.pass(1);
    EXPECT_EQ(bits(inst.record().phase), bits(0.0));

    inst.enable = 1.0f;
    inst.process(nullptr, out.data(), 300);
    ref.tone(997.0f, 0.8f, expected.data(), 300);
    EXPECT_EQ(out[0], 0.0f);
    expect_tone(expected, out.data(), "burst after pass-through restarts");
    EXPECT_EQ(bits(inst.record().phase), bits(ref.phase));
}

TEST(Bursts, AnyBlockSplitGivesTheSameSamplesAsOneBlock)
{
    constexpr uint32_t total = 200000;
    std::mt19937 rng(42);
    std::uniform_int_distribution<uint32_t> size(0, 2000);
    for (float frequency : {1000.0f, 12345.678f, 47999.0f, -300.0f}) {
        Instance whole(descriptor(), 48000.0), split(descriptor(), 48000.0);
        for (Instance* inst : {&whole, &split}) {
            inst->enable = 1.0f;
            inst->frequency = frequency;
            inst->level = 0.9f;
        }
        std::vector<float> a(total), b(total);
        whole.process(nullptr, a.data(), total);
        uint32_t done = 0;
        while (done < total) {
            const uint32_t n = std::min(size(rng), total - done);
            split.process(nullptr, b.data() + done, n);
            done += n;
        }
        EXPECT_EQ(std::memcmp(a.data(), b.data(), total * sizeof(float)), 0) << "F=" << frequency;
        EXPECT_EQ(bits(whole.record().phase), bits(split.record().phase));
    }
}

TEST(Bursts, InstancesAtDifferentRatesKeepTheirOwnState)
{
    Instance a(descriptor(), 44100.0), b(descriptor(), 96000.0);
    ReferenceTone ref_a{44100.0}, ref_b{96000.0};
    a.enable = b.enable = 1.0f;
    a.frequency = b.frequency = 1000.0f;
    std::vector<float> out(512), expected(512);
    for (int block = 0; block < 50; ++block) {
        const uint32_t n = static_cast<uint32_t>(100 + block * 7);
        a.process(nullptr, out.data(), n);
        ref_a.tone(1000.0f, 1.0f, expected.data(), n);
        expect_tone({expected.begin(), expected.begin() + n}, out.data(), "44.1 kHz instance");
        b.process(nullptr, out.data(), n);
        ref_b.tone(1000.0f, 1.0f, expected.data(), n);
        expect_tone({expected.begin(), expected.begin() + n}, out.data(), "96 kHz instance");
    }
    EXPECT_EQ(bits(a.record().phase), bits(ref_a.phase));
    EXPECT_EQ(bits(b.record().phase), bits(ref_b.phase));
    EXPECT_EQ(a.record().sample_rate, 44100.0);
    EXPECT_EQ(b.record().sample_rate, 96000.0);
}

TEST(InPlace, PassThroughKeepsTheBufferAndToneOverwritesIt)
{
    Instance inst(descriptor(), 48000.0);
    const auto original = noise(1024, 3);
    auto buffer = original;
    inst.enable = 0.0f;
    inst.process(buffer.data(), buffer.data(), 1024);
    EXPECT_EQ(buffer, original);

    inst.enable = 1.0f;
    inst.frequency = 3000.0f;
    inst.level = 0.25f;
    inst.process(buffer.data(), buffer.data(), 1024);
    ReferenceTone ref{48000.0};
    std::vector<float> expected(1024);
    ref.tone(3000.0f, 0.25f, expected.data(), 1024);
    expect_tone(expected, buffer.data(), "in-place tone");
}

TEST(NonFinite, ControlsAndRatesFollowFloatingPointUntilAPassThrough)
{
    struct Case {
        double rate;
        float frequency, level;
    };
    for (Case c :
         {Case{48000.0, NaN, 1.0f}, Case{48000.0, INF, 1.0f}, Case{48000.0, -INF, 1.0f}, Case{48000.0, 1000.0f, NaN},
          Case{48000.0, 1000.0f, INF}, Case{0.0, 1000.0f, 1.0f}, Case{-48000.0, 1000.0f, 1.0f},
          Case{std::nan(""), 1000.0f, 1.0f}, Case{std::numeric_limits<double>::infinity(), 1000.0f, 1.0f},
          Case{48000.0, 3.0e38f, 1.0f}, Case{48000.0, 1e-45f, 1.0f}}) {
        SCOPED_TRACE(testing::Message() << "rate=" << c.rate << " F=" << c.frequency << " L=" << c.level);
        Instance inst(descriptor(), c.rate);
        ReferenceTone ref{c.rate};
        inst.enable = 1.0f;
        inst.frequency = c.frequency;
        inst.level = c.level;
        std::vector<float> out(257), expected(257);
        for (int block = 0; block < 3; ++block) {
            inst.process(nullptr, out.data(), 257);
            ref.tone(c.frequency, c.level, expected.data(), 257);
            expect_tone(expected, out.data(), "tone");
            ASSERT_TRUE(zendrik_test::same_phase(inst.record().phase, ref.phase))
                << inst.record().phase << " vs " << ref.phase;
        }
        // A pass-through block brings any phase back to a clean start.
        const auto in = noise(8, 5);
        inst.enable = 0.0f;
        inst.process(in.data(), out.data(), 8);
        EXPECT_EQ(bits(inst.record().phase), bits(0.0));
        EXPECT_EQ(std::memcmp(in.data(), out.data(), 8 * sizeof(float)), 0);
    }
}
