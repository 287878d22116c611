// Two samples at a time with libmvec's SSE2 sine. Built for baseline x86-64.
#include "tone_pipeline.h"

#include <immintrin.h>

extern "C" __m128d _ZGVbN2v_sin(__m128d);

namespace zendrik {
namespace {

struct Sse2Sine {
    static constexpr uint32_t WIDTH = 2;
    static void apply(const double* ph, float* out, double level)
    {
        const __m128d y = _mm_mul_pd(_ZGVbN2v_sin(_mm_load_pd(ph)), _mm_set1_pd(level));
        _mm_storel_pi(reinterpret_cast<__m64*>(out), _mm_cvtpd_ps(y));
    }
};

} // namespace

double tone_sse2(float* out, uint32_t n, double phase, double increment, double level)
{
    return tone_pipelined<Sse2Sine>(out, n, phase, increment, level);
}

} // namespace zendrik
