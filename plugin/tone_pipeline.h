// The vector kernels' common loop, included by one source file per
// instruction set so that all of it is compiled for that set (calling code
// built for another set from inside the loop would cost a transition at
// every call). Everything here has internal linkage for the same reason:
// the linker must never pick one file's copy for another.
//
// The phase recurrence is serial: each phase is the previous one plus the
// increment, wrapped. Only the sines are independent. So the phases of a
// group of samples are computed one by one into a small array on the stack,
// and their sines a vector at a time. The loop is software-pipelined: it
// computes the phases of the next group before the sines of the current
// one, so the dependent additions run while the vector sine works, and the
// sines read phases stored a whole group earlier (reading a vector right
// after writing its elements one by one stalls on store forwarding).
#ifndef ZENDRIK_TONE_PIPELINE_H
#define ZENDRIK_TONE_PIPELINE_H

#include "tone.h"

#include <cstdint>
#include <cstring>

namespace zendrik {
namespace {

// Samples per group; a multiple of every vector width.
constexpr uint32_t GROUP = 16;

// Writes the n phases starting at `phase` to ph and returns the next one.
inline double fill_phases(double* ph, uint32_t n, double phase, double increment)
{
    for (uint32_t i = 0; i < n; ++i) {
        ph[i] = phase;
        phase += increment;
        if (phase >= TWO_PI) {
            phase -= TWO_PI;
        }
    }
    return phase;
}

// Sine::WIDTH samples per step; Sine::apply(ph, out, level) writes
// (float)(sin(ph[k]) * level) for k below the width, ph aligned to 64 bytes.
template <class Sine>
inline void sine_group(double* ph, float* out, uint32_t n, double level)
{
    constexpr uint32_t W = Sine::WIDTH;
    uint32_t k = 0;
    for (; k + W <= n; k += W) {
        Sine::apply(ph + k, out + k, level);
    }
    if (k < n) {
        // A short last vector: zero phases in the unused lanes, and only the
        // samples of the block leave the scratch.
        for (uint32_t j = n; j < k + W; ++j) {
            ph[j] = 0.0;
        }
        float last[W];
        Sine::apply(ph + k, last, level);
        std::memcpy(out + k, last, (n - k) * sizeof(float));
    }
}

template <class Sine>
inline double tone_pipelined(float* out, uint32_t n, double phase, double increment, double level)
{
    alignas(64) double ph[2][GROUP];
    uint32_t start = 0;
    uint32_t len = n < GROUP ? n : GROUP;
    uint32_t cur = 0;
    phase = fill_phases(ph[cur], len, phase, increment);
    for (;;) {
        const uint32_t next = start + len;
        const uint32_t next_len = n - next < GROUP ? n - next : GROUP;
        phase = fill_phases(ph[cur ^ 1U], next_len, phase, increment);
        sine_group<Sine>(ph[cur], out + start, len, level);
        if (next_len == 0) {
            return phase;
        }
        start = next;
        len = next_len;
        cur ^= 1U;
    }
}

} // namespace
} // namespace zendrik

#endif
