// Eight samples at a time with libmvec's AVX-512 sine. Built with -mavx512f.
#include "tone_pipeline.h"

#include <immintrin.h>

extern "C" __m512d _ZGVeN8v_sin(__m512d);

namespace zendrik {
namespace {

struct Avx512Sine {
    static constexpr uint32_t WIDTH = 8;
    static void apply(const double* ph, float* out, double level)
    {
        const __m512d y = _mm512_mul_pd(_ZGVeN8v_sin(_mm512_load_pd(ph)), _mm512_set1_pd(level));
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
