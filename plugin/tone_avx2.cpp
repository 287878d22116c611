// SPDX-License-Identifier: ISC
// Four samples at a time with libmvec's AVX2 sine. Built with -mavx2 -mfma.
#include "tone_pipeline.h"

#include <immintrin.h>

extern "C" __m256d _ZGVdN4v_sin(__m256d);

namespace zendrik {
namespace {

struct Avx2Sine {
    using Vec = __m256d;
    static constexpr uint32_t WIDTH = 4;
    static Vec load(const double* p) { return _mm256_load_pd(p); }
    static Vec zero() { return _mm256_setzero_pd(); }
    static Vec put(Vec v, uint32_t lane, double phase)
    {
        // All-ones in the chosen lane, built in registers.
        const __m256i lanes = _mm256_setr_epi64x(0, 1, 2, 3);
        const __m256d mask = _mm256_castsi256_pd(_mm256_cmpeq_epi64(lanes, _mm256_set1_epi64x(lane)));
        return _mm256_blendv_pd(v, _mm256_set1_pd(phase), mask);
    }
    static void apply(Vec phases, double level, float* out)
    {
        const __m256d y = _mm256_mul_pd(_ZGVdN4v_sin(phases), _mm256_set1_pd(level));
        _mm_storeu_ps(out, _mm256_cvtpd_ps(y));
    }
};

} // namespace

double tone_avx2(float* out, uint32_t n, double phase, double increment, double level)
{
    return tone_pipelined<Avx2Sine>(out, n, phase, increment, level);
}

} // namespace zendrik
