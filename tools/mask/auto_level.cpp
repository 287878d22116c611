// SPDX-License-Identifier: ISC
#include "auto_level.h"

#include "errors.h"
#include "plugin_settings.h"

#include <ebur128.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>

namespace zendrik_mask {

namespace {

constexpr int64_t BLOCK = 4096;

struct StateFree {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

// Integrated loudness in LUFS of what `read` gives (interleaved, 0 at the
// end); -inf when the gates leave nothing.
double loudness(const std::vector<Speaker>& speakers, int rate, const std::function<int64_t(float*, int64_t)>& read)
{
    const auto channels = static_cast<unsigned>(speakers.size());
    const std::unique_ptr<ebur128_state, StateFree> state(
        ebur128_init(channels, static_cast<unsigned long>(rate), EBUR128_MODE_I));
    if (!state) {
        throw std::bad_alloc();
    }
    for (unsigned c = 0; c < channels; ++c) {
        const Speaker speaker = speakers[c];
        ebur128_set_channel(state.get(), c,
                            speaker == Speaker::unused      ? EBUR128_UNUSED
                                : speaker == Speaker::front ? EBUR128_CENTER
                                                            : EBUR128_LEFT_SURROUND);
    }
    std::vector<float> block(static_cast<std::size_t>(BLOCK) * channels);
    while (const int64_t frames = read(block.data(), BLOCK)) {
        if (ebur128_add_frames_float(state.get(), block.data(), static_cast<std::size_t>(frames)) != EBUR128_SUCCESS) {
            throw std::bad_alloc();
        }
    }
    double lufs = 0;
    ebur128_loudness_global(state.get(), &lufs);
    return lufs;
}

// A sine of peak 1 in every channel weighed, long enough for the gates.
double tone_loudness(const std::vector<Speaker>& speakers, int rate, double frequency)
{
    const int64_t length = 3 * static_cast<int64_t>(rate);
    int64_t done = 0;
    return loudness(speakers, rate, [&](float* frames, int64_t count) {
        count = std::min(count, length - done);
        for (int64_t i = 0; i < count; ++i) {
            const auto sample
                = static_cast<float>(std::sin(2 * M_PI * frequency * static_cast<double>(done + i) / rate));
            for (std::size_t c = 0; c < speakers.size(); ++c) {
                frames[static_cast<std::size_t>(i) * speakers.size() + c] = sample;
            }
        }
        done += count;
        return count;
    });
}

std::string decibels(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

std::vector<Speaker> default_speakers(int channels)
{
    std::vector<Speaker> speakers(static_cast<std::size_t>(channels), Speaker::front);
    if (channels == 6 || channels == 8) {
        speakers[3] = Speaker::unused;
        for (std::size_t c = 4; c < speakers.size(); ++c) {
            speakers[c] = Speaker::surround;
        }
    }
    return speakers;
}

void set_automatic_level(Lv2Host& host, const Options& options, InputFile& input, const std::vector<Speaker>& speakers,
                         const std::string& what, std::vector<std::string>& warnings)
{
    const int rate = input.info().samplerate;
    const double sound = loudness(speakers, rate, [&](float* frames, int64_t count) -> int64_t {
        return input.decoded() ? input.decoded()->read(frames, count)
            : input.mp3()      ? input.mp3()->read(frames, count)
                               : sf_readf_float(input.handle(), frames, count);
    });
    const double tone = tone_loudness(speakers, rate, tone_frequency(host, options));
    if (!std::isfinite(sound) || !std::isfinite(tone)) {
        warnings.push_back("--level auto: " + what + " measures no loudness (silence); the tone keeps its level");
        return;
    }
    const double gain = std::pow(10.0, (sound - *options.level_below - tone) / 20.0);
    const ControlInfo info = host.control("level");
    if (gain > info.maximum) {
        warnings.push_back("--level auto: " + what + " measures " + decibels(sound) + " LUFS, too loud for a tone "
                           + decibels(*options.level_below) + " LU under it; the tone plays at the plugin's most, "
                           + decibels(tone + 20 * std::log10(info.maximum)) + " LUFS");
    }
    host.set_control("level", static_cast<float>(std::min<double>(gain, info.maximum)));
}

} // namespace zendrik_mask
