// SPDX-License-Identifier: ISC
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
//
// A block shorter than a group has nothing to overlap and would meet that
// stall at once, so its phases go straight into vector lanes instead.
#ifndef ZENDRIK_TONE_PIPELINE_H
#define ZENDRIK_TONE_PIPELINE_H

#include "tone.h"

#include <cstdint>
#include <cstring>

namespace zendrik {
namespace {

// Samples per group; a multiple of every vector width.
constexpr uint32_t GROUP = 16;

// Sine provides, for its vector type Sine::Vec of Sine::WIDTH doubles:
//   load(p)                   the vector at p, aligned to 64 bytes
//   zero()                    all lanes 0.0 (a harmless argument for sin)
//   put(v, lane, phase)       v with `phase` in lane `lane`, in registers
//   apply(v, level, out)      out[k] = (float)(sin(v[k]) * level), all lanes

inline double advance(double phase, double increment)
{
    phase += increment;
    if (phase >= TWO_PI) {
        phase -= TWO_PI;
    }
    return phase;
}

// Writes the n phases starting at `phase` to ph and returns the next one.
inline double fill_phases(double* ph, uint32_t n, double phase, double increment)
{
    for (uint32_t i = 0; i < n; ++i) {
        ph[i] = phase;
        phase = advance(phase, increment);
    }
    return phase;
}

// count (at most WIDTH) sines; only `count` samples leave for `out`.
template <class Sine>
inline void write_sines(typename Sine::Vec phases, float* out, uint32_t count, double level)
{
    if (count == Sine::WIDTH) {
        Sine::apply(phases, level, out);
    } else {
        float last[Sine::WIDTH];
        Sine::apply(phases, level, last);
        std::memcpy(out, last, count * sizeof(float));
    }
}

template <class Sine>
inline void sine_group(const double* ph, float* out, uint32_t n, double level)
{
    // Lanes past n hold stale phases of this block or zeros: both are
    // ordinary arguments for the sine, and their results are dropped.
    for (uint32_t k = 0; k < n; k += Sine::WIDTH) {
        write_sines<Sine>(Sine::load(ph + k), out + k, n - k < Sine::WIDTH ? n - k : Sine::WIDTH, level);
    }
}

template <class Sine>
inline double tone_short(float* out, uint32_t n, double phase, double increment, double level)
{
    for (uint32_t k = 0; k < n; k += Sine::WIDTH) {
        const uint32_t count = n - k < Sine::WIDTH ? n - k : Sine::WIDTH;
        typename Sine::Vec v = Sine::zero();
        for (uint32_t lane = 0; lane < count; ++lane) {
            v = Sine::put(v, lane, phase);
            phase = advance(phase, increment);
        }
        write_sines<Sine>(v, out + k, count, level);
    }
    return phase;
}

template <class Sine>
inline double tone_pipelined(float* out, uint32_t n, double phase, double increment, double level)
{
    if (n < GROUP) {
        return tone_short<Sine>(out, n, phase, increment, level);
    }
    alignas(64) double ph[2][GROUP] = {};
    uint32_t start = 0;
    uint32_t len = GROUP;
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
