// SPDX-License-Identifier: ISC
// Tone kernels: each writes n samples of a sine tone and returns the phase
// after them. For every sample i, in order:
//
//     out[i] = (float)(sin(phase) * level);
//     phase += increment;
//     if (phase >= TWO_PI) phase -= TWO_PI;
//
// The phase comes out bit for bit the same from every kernel; the samples
// differ only by the sine each one uses.
#ifndef ZENDRIK_TONE_H
#define ZENDRIK_TONE_H

#include <cstdint>

namespace zendrik {

constexpr double TWO_PI = 6.283185307179586;

// The loop above with the C library's scalar sine: the portable kernel.
double tone_scalar(float* out, uint32_t n, double phase, double increment, double level);

#if ZENDRIK_HAVE_LIBMVEC
// The same loop with glibc's vector sine (libmvec), 2, 4 or 8 samples at a
// time. Each needs its instruction set: SSE2 (every x86-64 CPU), AVX2 with
// FMA, AVX-512F. The caller checks the CPU first.
double tone_sse2(float* out, uint32_t n, double phase, double increment, double level);
double tone_avx2(float* out, uint32_t n, double phase, double increment, double level);
double tone_avx512(float* out, uint32_t n, double phase, double increment, double level);
#endif

} // namespace zendrik

#endif
