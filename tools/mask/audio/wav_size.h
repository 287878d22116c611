// SPDX-License-Identifier: ISC
// A WAV file states its sizes in 32 bits: past 4 GiB they wrap round and
// the file reads as a short, broken one. Such an output is written as RF64,
// WAV's 64-bit form, instead.
#ifndef ZENDRIK_MASK_WAV_SIZE_H
#define ZENDRIK_MASK_WAV_SIZE_H

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace zendrik_mask {

// Whether a WAV file's sizes cannot say `frames` x `channels` samples of
// `sample_bytes` each, with room for the header and tag chunks.
bool wav_overflows(int64_t frames, int channels, int sample_bytes);

// Turns a WAV or WAVEX `output` of `frames` that would overflow into RF64;
// returns the warning to print, empty when it stays as it is.
std::string widen_large_wav(SF_INFO& output, int64_t frames);

} // namespace zendrik_mask

#endif
