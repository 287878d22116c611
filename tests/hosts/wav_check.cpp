// SPDX-License-Identifier: ISC
// Helper for the host-level tests: writes a float WAV test signal and checks
// what real LV2 hosts made of it.
//   wav_check make FILE SAMPLES RATE [positive-zero]
//   wav_check same EXPECTED ACTUAL        samples bit-identical
//   wav_check tone FILE FREQUENCY LEVEL   one burst from phase zero
#include "support/reference.h"

#include <sndfile.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Audio {
    SF_INFO info{};
    std::vector<float> samples;
};

bool read_wav(const char* path, Audio& audio)
{
    SNDFILE* f = sf_open(path, SFM_READ, &audio.info);
    if (!f) {
        std::fprintf(stderr, "wav_check: %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    audio.samples.resize(static_cast<size_t>(audio.info.frames * audio.info.channels));
    const sf_count_t got = sf_readf_float(f, audio.samples.data(), audio.info.frames);
    sf_close(f);
    return got == audio.info.frames;
}

int make(const char* path, long samples, int rate, bool negative_zero)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path, SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "wav_check: %s: %s\n", path, sf_strerror(nullptr));
        return 1;
    }
    // Noise below full scale with every exponent down to the subnormals, and
    // a signed zero: a pass-through that is not bit-exact shows.
    std::mt19937 rng(1234);
    std::vector<float> v(static_cast<size_t>(samples));
    for (auto& x : v) {
        const uint32_t b = static_cast<uint32_t>(rng());
        const uint32_t exponent = ((b >> 23) & 0xffu) % 127u;
        x = std::bit_cast<float>((b & 0x807fffffu) | (exponent << 23));
    }
    if (!v.empty()) {
        v[0] = negative_zero ? -0.0f : 0.0f;
    }
    sf_command(f, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    const bool ok = sf_writef_float(f, v.data(), samples) == samples;
    sf_close(f);
    return ok ? 0 : 1;
}

int same(const char* expected_path, const char* actual_path)
{
    Audio a, b;
    if (!read_wav(expected_path, a) || !read_wav(actual_path, b)) {
        return 1;
    }
    if (a.samples.size() != b.samples.size()) {
        std::fprintf(stderr, "wav_check: %zu samples, expected %zu\n", b.samples.size(), a.samples.size());
        return 1;
    }
    for (size_t i = 0; i < a.samples.size(); ++i) {
        if (zendrik_test::bits(a.samples[i]) != zendrik_test::bits(b.samples[i])) {
            std::fprintf(stderr, "wav_check: sample %zu differs: %a, expected %a\n", i,
                         static_cast<double>(b.samples[i]), static_cast<double>(a.samples[i]));
            return 1;
        }
    }
    std::printf("%zu samples bit-identical\n", a.samples.size());
    return 0;
}

int tone(const char* path, float frequency, float level)
{
    Audio audio;
    if (!read_wav(path, audio)) {
        return 1;
    }
    std::vector<float> expected(audio.samples.size());
    zendrik_test::reference_tone(expected.data(), static_cast<uint32_t>(expected.size()), 0.0,
                                 zendrik_test::tone_increment(frequency, audio.info.samplerate), level);
    size_t off_by_one = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const float actual = audio.samples[i];
        if (zendrik_test::ulp_distance(expected[i], actual) > 1) {
            std::fprintf(stderr, "wav_check: sample %zu is %.9g, expected %.9g\n", i, static_cast<double>(actual),
                         static_cast<double>(expected[i]));
            return 1;
        }
        off_by_one += expected[i] != actual;
    }
    if (audio.samples.empty() || audio.samples[0] != 0.0f) {
        std::fprintf(stderr, "wav_check: the burst does not start with a zero sample\n");
        return 1;
    }
    std::printf("%zu samples match the reference tone (%zu one ulp off)\n", audio.samples.size(), off_by_one);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "make" && (argc == 5 || (argc == 6 && std::strcmp(argv[5], "positive-zero") == 0))) {
        return make(argv[2], std::atol(argv[3]), std::atoi(argv[4]), argc == 5);
    }
    if (cmd == "same" && argc == 4) {
        return same(argv[2], argv[3]);
    }
    if (cmd == "tone" && argc == 5) {
        return tone(argv[2], std::strtof(argv[3], nullptr), std::strtof(argv[4], nullptr));
    }
    std::fprintf(stderr, "usage: wav_check make FILE SAMPLES RATE [positive-zero] | same A B | tone FILE FREQ LEVEL\n");
    return 2;
}
