// Four samples at a time with libmvec's AVX2 sine. Built with -mavx2 -mfma.
#include "tone_pipeline.h"

#include <immintrin.h>

extern "C" __m256d _ZGVdN4v_sin(__m256d);

namespace zendrik {
namespace {

struct Avx2Sine {
    static constexpr uint32_t WIDTH = 4;
    static void apply(const double* ph, float* out, double level)
    {
        const __m256d y = _mm256_mul_pd(_ZGVdN4v_sin(_mm256_load_pd(ph)), _mm256_set1_pd(level));
        _mm_storeu_ps(out, _mm256_cvtpd_ps(y));
    }
};

} // namespace

double tone_avx2(float* out, uint32_t n, double phase, double increment, double level)
{
    return tone_pipelined<Avx2Sine>(out, n, phase, increment, level);
}

} // namespace zendrik
