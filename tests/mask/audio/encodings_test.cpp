// SPDX-License-Identifier: ISC
// zendrik-mask's decisions about output encodings: when a WAV must become
// RF64, and which bit rates an MP3 output takes; and an Ogg file's length.
#include "errors.h"
#include "lossy.h"
#include "ogg_pages.h"
#include "wav_size.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <sstream>

using namespace zendrik_mask;

namespace {

TEST(WavSize, PastFourGibibytesTheWavBecomesRf64)
{
    // Three hours at 48 kHz stereo: 8.29 GB in doubles, 3.11 GB in 24-bit PCM.
    const int64_t three_hours = int64_t{48000} * 3 * 3600;
    EXPECT_TRUE(wav_overflows(three_hours, 2, 8));
    EXPECT_FALSE(wav_overflows(three_hours, 2, 3));
    // The sizes are 32-bit: 2^32 bytes of samples cannot be stated, with or
    // without the header around them.
    EXPECT_TRUE(wav_overflows(int64_t{1} << 30, 1, 4));
    EXPECT_FALSE(wav_overflows((int64_t{1} << 30) - (1 << 20), 1, 4));

    SF_INFO large{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 0, 0};
    EXPECT_FALSE(widen_large_wav(large, three_hours).empty());
    EXPECT_EQ(large.format, SF_FORMAT_RF64 | SF_FORMAT_DOUBLE);
    SF_INFO flac{0, 48000, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 0, 0};
    EXPECT_TRUE(widen_large_wav(flac, three_hours).empty());
    EXPECT_EQ(flac.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

// A granule is whatever 64 bits the file holds; scaling it to the decoding
// rate must not overflow.
TEST(OggLength, HugeGranulesScaleExactly)
{
    OggLayout layout;
    layout.opus = true;
    layout.opus_pre_skip = 312;
    layout.last_granule = (int64_t{1} << 62) + 312;
    EXPECT_EQ(declared_frames(layout, 48000), int64_t{1} << 62);
    EXPECT_EQ(declared_frames(layout, 24000), int64_t{1} << 61);
    EXPECT_EQ(declared_frames(layout, 96000), -1); // past 64 bits: no length
}

TEST(Mp3Bitrate, RequestedRatesMustExistAtTheSampleRate)
{
    EXPECT_EQ(choose_mp3_bitrate(320, {}, 44100).kbps, 320);
    EXPECT_EQ(choose_mp3_bitrate(8, {}, 16000).kbps, 8);
    for (const auto& [kbps, rate] : {std::pair{100, 44100}, std::pair{8, 44100}, std::pair{320, 22050},
                                     std::pair{80, 8000}, std::pair{-1, 44100}}) {
        try {
            choose_mp3_bitrate(kbps, {}, rate);
            ADD_FAILURE() << kbps << " kbps at " << rate << " Hz accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.status(), EXIT_BAD_INPUT);
        }
    }
    // Without a request: the input's mode and rate, else 128 kbps constant.
    const Mp3Bitrate kept = choose_mp3_bitrate(0, {true, 97}, 44100);
    EXPECT_TRUE(kept.variable);
    EXPECT_EQ(kept.kbps, 97);
    EXPECT_EQ(choose_mp3_bitrate(0, {}, 48000).kbps, 128);
}

// Frame headers written here by hand: MPEG-1 layer III at 44.1 kHz.
std::string frames(std::initializer_list<int> bitrate_indexes)
{
    static const int KBPS[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    std::string out = "ID3\x03" + std::string(5, '\0') + "\x05" + std::string(5, 'x');
    for (int index : bitrate_indexes) {
        std::string frame(static_cast<std::size_t>(144 * KBPS[index] * 1000 / 44100), '\0');
        frame[0] = '\xff';
        frame[1] = '\xfb';
        frame[2] = static_cast<char>(index << 4);
        out += frame;
    }
    return out;
}

TEST(Mp3Bitrate, MeasuredFromTheFrameHeaders)
{
    std::istringstream constant(frames({9, 9, 9, 9}));
    const Mp3Bitrate cbr = measure_mp3_bitrate(constant);
    EXPECT_FALSE(cbr.variable);
    EXPECT_EQ(cbr.kbps, 128);
    // Two frames at 64 kbps and two at 192: 128 on average.
    std::istringstream variable(frames({5, 11, 5, 11}));
    const Mp3Bitrate vbr = measure_mp3_bitrate(variable);
    EXPECT_TRUE(vbr.variable);
    EXPECT_NEAR(vbr.kbps, 128, 1);
}

} // namespace
