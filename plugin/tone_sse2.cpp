// SPDX-License-Identifier: ISC
// Two samples at a time with libmvec's SSE2 sine. Built for baseline x86-64.
#include "tone_pipeline.h"

#include <immintrin.h>

extern "C" __m128d _ZGVbN2v_sin(__m128d);

namespace zendrik {
namespace {

struct Sse2Sine {
    using Vec = __m128d;
    static constexpr uint32_t WIDTH = 2;
    static Vec load(const double* p) { return _mm_load_pd(p); }
    static Vec zero() { return _mm_setzero_pd(); }
    static Vec put(Vec v, uint32_t lane, double phase)
    {
        return lane == 0 ? _mm_move_sd(v, _mm_set_sd(phase)) : _mm_unpacklo_pd(v, _mm_set_sd(phase));
    }
    static void apply(Vec phases, double level, float* out)
    {
        const __m128d y = _mm_mul_pd(_ZGVbN2v_sin(phases), _mm_set1_pd(level));
        _mm_storel_pi(reinterpret_cast<__m64*>(out), _mm_cvtpd_ps(y));
    }
};

} // namespace

double tone_sse2(float* out, uint32_t n, double phase, double increment, double level)
{
    return tone_pipelined<Sse2Sine>(out, n, phase, increment, level);
}

} // namespace zendrik
