// SPDX-License-Identifier: ISC
#include "wav_size.h"

namespace zendrik_mask {

namespace {

// Header, format, fact, PEAK and tag chunks fit well within this.
constexpr int64_t HEADER_ROOM = 1 << 20;
constexpr int64_t LARGEST_WAV = 0xffffffffLL;

int sample_bytes(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return 1;
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: return 4;
    case SF_FORMAT_DOUBLE: return 8;
    default: return 0; // compressed: smaller than 16-bit PCM
    }
}

} // namespace

bool wav_overflows(int64_t frames, int channels, int sample_bytes)
{
    if (frames < 0 || channels <= 0) {
        return false;
    }
    // Divided rather than multiplied, so that no product can overflow.
    const int64_t room = LARGEST_WAV - HEADER_ROOM;
    return frames > room / channels / sample_bytes;
}

std::string widen_large_wav(SF_INFO& output, int64_t frames)
{
    const int container = output.format & SF_FORMAT_TYPEMASK;
    const int bytes = sample_bytes(output.format);
    if ((container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX)
        || !wav_overflows(frames, output.channels, bytes == 0 ? 2 : bytes)) {
        return "";
    }
    SF_INFO widened = output;
    widened.format = SF_FORMAT_RF64 | (output.format & SF_FORMAT_SUBMASK);
    if (!sf_format_check(&widened)) {
        return "";
    }
    output = widened;
    return "the output passes 4 GiB, more than a WAV file can state; it is written as RF64, the 64-bit WAV";
}

} // namespace zendrik_mask
