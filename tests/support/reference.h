// SPDX-License-Identifier: ISC
// The plugin's tone written out from its definition, for every test, fuzz
// target and benchmark: one std::sin a sample, then the step and a single
// wrap. It never includes nor calls the module's code (plugin/tone.h), so a
// fault there shows here instead of being repeated.
#ifndef ZENDRIK_TESTS_REFERENCE_H
#define ZENDRIK_TESTS_REFERENCE_H

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace zendrik_test {

constexpr double TWO_PI = 6.283185307179586;

// The phase step of a tone at a sample rate.
inline double tone_increment(double frequency, double sample_rate)
{
    return (frequency * TWO_PI) / sample_rate;
}

// Writes n samples from phase on and returns the phase after them.
inline double reference_tone(float* out, uint32_t n, double phase, double increment, double level)
{
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = static_cast<float>(std::sin(phase) * level);
        phase += increment;
        if (phase >= TWO_PI) {
            phase -= TWO_PI;
        }
    }
    return phase;
}

// One instance's phase: it runs on across tone blocks and restarts at zero
// after a pass-through block of one sample or more.
struct ReferenceTone {
    double sample_rate;
    double phase = 0.0;

    void tone(float frequency, float level, float* out, uint32_t n)
    {
        phase = reference_tone(out, n, phase, tone_increment(frequency, sample_rate), level);
    }
    void pass(uint32_t n)
    {
        if (n > 0) {
            phase = 0.0;
        }
    }
};

inline uint32_t bits(float x)
{
    return std::bit_cast<uint32_t>(x);
}
inline uint64_t bits(double x)
{
    return std::bit_cast<uint64_t>(x);
}

// Phases agree bit for bit; once both are NaN, the payload does not matter.
inline bool same_phase(double a, double b)
{
    return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

// Distance in float units in the last place: neighbours are 1 apart, +0 and
// -0 are 0 apart, so are two NaNs, and a NaN is as far as can be from a number.
// The double-precision sine may be any correct library's, so a tone sample
// may sit one unit from the reference.
inline int64_t ulp_distance(float a, float b)
{
    if (std::isnan(a) || std::isnan(b)) {
        return std::isnan(a) && std::isnan(b) ? 0 : std::numeric_limits<int64_t>::max();
    }
    // Sign and magnitude onto one line of integers, ordered like the floats.
    auto ordered = [](float f) {
        const auto i = static_cast<int64_t>(std::bit_cast<int32_t>(f));
        return i < 0 ? std::numeric_limits<int32_t>::min() - i : i;
    };
    return std::llabs(ordered(a) - ordered(b));
}

} // namespace zendrik_test

#endif
