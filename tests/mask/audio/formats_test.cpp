// SPDX-License-Identifier: ISC
// zendrik-mask's choice of the output format from --format and the input's
// format, rate and channels.
#include "formats.h"

#include "errors.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <tuple>

using namespace zendrik_mask;

namespace {

constexpr int WAV16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int AIFF16_LE = SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;

std::string error_of(const char* request, int input, int channels)
{
    try {
        output_format(request, {input, 44100, channels});
    } catch (const Error& e) {
        EXPECT_EQ(e.status(), EXIT_BAD_INPUT) << request;
        return e.what();
    }
    return "(no error)";
}

TEST(MaskOutputFormat, ChoosesFromTheRequestAndTheInput)
{
    const std::tuple<const char*, int, int> cases[] = {
        // Nothing named: the input's format, byte order included.
        {"", WAV16, WAV16},
        {"", AIFF16_LE, AIFF16_LE},
        // Encoding only: the byte order stays with the container.
        {":pcm24", AIFF16_LE, SF_FORMAT_AIFF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE},
        {":pcm16", SF_FORMAT_WAV | SF_FORMAT_FLOAT, WAV16},
        // Container only: the input's encoding when it fits, else float for
        // float and lossy inputs, 24-bit PCM for the others.
        {"flac", WAV16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"wav", AIFF16_LE, WAV16},
        {"flac", SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"wav", SF_FORMAT_OGG | SF_FORMAT_VORBIS, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"caf", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, SF_FORMAT_CAF | SF_FORMAT_FLOAT},
        // libsndfile checks MP3 in WAV as a format but cannot write it.
        {"wav", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"flac", SF_FORMAT_WAV | SF_FORMAT_ULAW, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"ogg", WAV16, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        // Both, any case.
        {"WAV:Float", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        // Aliases, and containers that imply their encoding.
        {"aif", WAV16, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"oga", WAV16, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"opus", WAV16, SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {"mp3", WAV16, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        // 8-bit PCM is unsigned in WAV, signed in AIFF.
        {"wav:pcm8", WAV16, SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
        {"aiff:pcm8", WAV16, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8},
    };
    for (const auto& [request, input, expected] : cases) {
        EXPECT_EQ(output_format(request, {input, 44100, 2}), expected) << "'" << request << "' from " << input;
    }
}

TEST(MaskOutputFormat, TheOutputsExtensionPicksTheContainerUnlessFormatNamesOne)
{
    constexpr int WAVEX24 = SF_FORMAT_WAVEX | SF_FORMAT_PCM_24;
    const std::tuple<const char*, const char*, int, int, bool> cases[] = {
        {"", "out.flac", WAV16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false},
        {"", "dir/OUT.Ogg", WAV16, SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
        {"", "out.opus", SF_FORMAT_OGG | SF_FORMAT_VORBIS, SF_FORMAT_OGG | SF_FORMAT_OPUS, false},
        {":pcm24", "out.flac", WAV16, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, false},
        // ".wav" names the whole WAV family; unknown or no extension: the input's.
        {"", "out.wav", WAVEX24, WAVEX24, false},
        {"", "out.wav", AIFF16_LE, WAV16, false},
        {"", "out.txt", AIFF16_LE, AIFF16_LE, false},
        {"", "out.flac/take", AIFF16_LE, AIFF16_LE, false},
        // --format wins; a different container says so.
        {"wav", "out.flac", AIFF16_LE, WAV16, true},
        {"ogg", "out.opus", WAV16, SF_FORMAT_OGG | SF_FORMAT_VORBIS, true},
    };
    for (const auto& [request, path, input, expected, conflicts] : cases) {
        std::string conflict;
        EXPECT_EQ(output_format(request, {input, 44100, 2}, path, &conflict), expected) << request << " " << path;
        EXPECT_EQ(conflict.empty(), !conflicts) << request << " " << path << ": " << conflict;
    }
    try {
        output_format("", {WAV16, 44100, 9}, "out.flac");
        ADD_FAILURE() << "9 channels in FLAC";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(),
                  "the extension .flac: no encoding of that container fits the input (44100 Hz, 9 channels)");
    }
}

TEST(MaskOutputFormat, RefusesUnknownNamesAndWhatLibsndfileCannotWrite)
{
    EXPECT_EQ(error_of("wave", WAV16, 2),
              "unknown container 'wave' (one of wav, wavex, w64, rf64, aiff, aif, au, caf, flac, ogg, oga, opus, mp3)");
    EXPECT_EQ(error_of("wav:pcm12", WAV16, 2),
              "unknown encoding 'pcm12' (one of pcm8, pcm16, pcm24, pcm32, float, "
              "double, vorbis, opus, ulaw, alaw, mp3)");
    EXPECT_EQ(error_of(":float", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2),
              "--format :float: that container cannot hold that encoding at 44100 Hz, 2 channels");
    EXPECT_EQ(error_of("mp3", WAV16, 3),
              "--format mp3: that container cannot hold that encoding at 44100 Hz, 3 channels");
    EXPECT_EQ(error_of("flac", WAV16, 9),
              "--format flac: no encoding of that container fits the input (44100 Hz, 9 channels)");
}

} // namespace
