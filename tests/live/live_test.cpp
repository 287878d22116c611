// SPDX-License-Identifier: ISC
// zendrik live's delay line and the operator's buttons, on real speech, with
// the recogniser's bleeps off: the output is the input exactly `delay`
// seconds late, and the bleeps are the seed plugin's tone, written out here.
#include "live_host.h"
#include "support/reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

using zendrik_test::LiveHost;

constexpr float FREQUENCY = 1000.0f;
constexpr float LEVEL = 0.5f;

std::vector<float> padded(std::vector<float> input, std::size_t silence)
{
    input.insert(input.end(), silence, 0.0f);
    return input;
}

// What the output must be: each input sample `delay` later, or the tone where
// `bleeped` (by input position) says so, from phase zero at each burst.
void expect_output(const std::vector<float>& out, const std::vector<float>& in, std::size_t delay,
                   const std::vector<bool>& bleeped, double rate)
{
    zendrik_test::ReferenceTone tone{rate};
    std::size_t wrong = 0;
    for (std::size_t at = 0; at < out.size() && wrong < 5; ++at) {
        const bool before = at < delay;
        const std::size_t heard = at - (before ? 0 : delay);
        if (!before && bleeped[heard]) {
            float expected = 0.0f;
            tone.tone(FREQUENCY, LEVEL, &expected, 1);
            if (zendrik_test::ulp_distance(out[at], expected) > 1) {
                ADD_FAILURE() << "sample " << at << ": " << out[at] << ", the tone has " << expected;
                ++wrong;
            }
            continue;
        }
        tone.pass(1);
        const float expected = before ? 0.0f : in[heard];
        if (zendrik_test::bits(out[at]) != zendrik_test::bits(expected)) {
            ADD_FAILURE() << "sample " << at << ": " << out[at] << ", the input " << delay << " samples before has "
                          << expected;
            ++wrong;
        }
    }
}

LiveHost& quiet(LiveHost& host)
{
    host.control("auto") = 0.0f;
    host.control("frequency") = FREQUENCY;
    host.control("level") = LEVEL;
    return host;
}

TEST(LiveDelay, OutputIsTheInputExactlyDelayLateFromTheFirstSample)
{
    const std::vector<float> speech = zendrik_test::readings();
    // A delay that is no whole number of samples at 44.1 kHz, and the
    // longest, in blocks of sizes that divide nothing.
    for (const auto& [rate, delay, block] : {std::tuple{44100.0, 1.23456f, 777u}, std::tuple{16000.0, 10.0f, 4096u}}) {
        LiveHost host(rate);
        quiet(host).control("delay") = delay;
        const auto samples = static_cast<std::size_t>(std::llround(static_cast<double>(delay) * rate));
        const std::vector<float> in = padded(speech, samples);
        const std::vector<float> out = host.process(in, block);
        expect_output(out, in, samples, std::vector<bool>(in.size(), false), rate);
    }
}

TEST(LiveButtons, BleepHeldAndDumpBleepWhatTheyShouldAtAnyMoment)
{
    constexpr double RATE = 16000.0;
    constexpr std::size_t DELAY = 32000;
    constexpr uint32_t BLOCK = 500;
    LiveHost host(RATE);
    quiet(host).control("delay") = 2.0f;
    const std::vector<float> in = padded(zendrik_test::readings(), DELAY);
    std::vector<bool> bleeped(in.size(), false);
    const auto expect_bleeped = [&](std::size_t from, std::size_t to) {
        std::fill(bleeped.begin() + static_cast<std::ptrdiff_t>(from),
                  bleeped.begin() + static_cast<std::ptrdiff_t>(to), true);
    };
    // Held while 40000 to 52000 come in; dump pressed before anything aired
    // (at 10000) and again later (at 100000), then again while still held.
    expect_bleeped(40000, 52000);
    expect_bleeped(0, 10000);
    expect_bleeped(100000 - DELAY, 100000);
    expect_bleeped(200000 - DELAY, 212000);
    const std::vector<float> out = host.process(in, BLOCK, [&](std::size_t at) {
        host.control("bleep") = (at >= 40000 && at < 52000) || (at >= 200000 && at < 212000) ? 1.0f : 0.0f;
        host.control("dump") = at == 10000 || at == 100000 || at == 200000 ? 1.0f : 0.0f;
    });
    expect_output(out, in, DELAY, bleeped, RATE);
}

TEST(LiveDelay, ChangingTheDelayFadesAcrossTheJumpWithoutAClick)
{
    constexpr double RATE = 16000.0;
    constexpr std::size_t FADE = 160; // 10 ms out, then 10 ms in
    LiveHost host(RATE);
    quiet(host).control("delay") = 2.0f;
    const std::vector<float> in = padded(zendrik_test::readings(), 48000);
    const std::vector<float> out = host.process(in, 256, [&](std::size_t at) {
        host.control("delay") = at < 120064 ? 2.0f : at < 240128 ? 3.0f : 1.5f;
    });
    // Exact outside the fades, and within them never louder than the two
    // positions being faded between.
    const auto delayed = [&](std::size_t at, std::size_t delay) { return at < delay ? 0.0f : in[at - delay]; };
    for (const auto& [change, from, to] : {std::tuple{120064u, 32000u, 48000u}, std::tuple{240128u, 48000u, 24000u}}) {
        for (std::size_t at = change - 2000; at < change + 2000; ++at) {
            if (at < change) {
                ASSERT_EQ(zendrik_test::bits(out[at]), zendrik_test::bits(delayed(at, from))) << at;
            } else if (at >= change + 2 * FADE) {
                ASSERT_EQ(zendrik_test::bits(out[at]), zendrik_test::bits(delayed(at, to))) << at;
            } else {
                ASSERT_LE(std::fabs(out[at]), std::fabs(delayed(at, at < change + FADE ? from : to))) << at;
            }
        }
    }
}

} // namespace
