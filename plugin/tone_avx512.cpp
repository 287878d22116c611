// SPDX-License-Identifier: ISC
// Eight samples at a time with libmvec's AVX-512 sine. Built with -mavx512f.
#include "tone_pipeline.h"

#include <immintrin.h>

extern "C" __m512d _ZGVeN8v_sin(__m512d);

namespace zendrik {
namespace {

struct Avx512Sine {
    using Vec = __m512d;
    static constexpr uint32_t WIDTH = 8;
    static Vec load(const double* p) { return _mm512_load_pd(p); }
    static Vec zero() { return _mm512_setzero_pd(); }
    static Vec put(Vec v, uint32_t lane, double phase)
    {
        return _mm512_mask_broadcastsd_pd(v, static_cast<__mmask8>(1U << lane), _mm_set_sd(phase));
    }
    static void apply(Vec phases, double level, float* out)
    {
        const __m512d y = _mm512_mul_pd(_ZGVeN8v_sin(phases), _mm512_set1_pd(level));
        // Full mask: the plain conversion, spelt so that GCC 12 does not warn
        // about its undefined pass-through operand.
        _mm256_storeu_ps(out, _mm512_maskz_cvtpd_ps(0xFF, y));
    }
};

} // namespace

double tone_avx512(float* out, uint32_t n, double phase, double increment, double level)
{
    return tone_pipelined<Avx512Sine>(out, n, phase, increment, level);
}

} // namespace zendrik
