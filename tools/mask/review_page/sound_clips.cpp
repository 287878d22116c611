// SPDX-License-Identifier: ISC
#include "sound_clips.h"

#include "audio_file.h"
#include "opus_clip.h"

#include <algorithm>
#include <cmath>

namespace zendrik_mask {

namespace {

int64_t read_block(InputFile& input, float* frames, int64_t count)
{
    if (input.decoded() != nullptr) {
        return input.decoded()->read(frames, count);
    }
    return input.mp3() != nullptr ? input.mp3()->read(frames, count) : sf_readf_float(input.handle(), frames, count);
}

// A byte a slice is all a picture 70 pixels high can show, and keeps the page small.
std::vector<int> peaks_of(const std::vector<float>& mono)
{
    std::vector<float> peaks(CLIP_PEAKS, 0.0F);
    for (std::size_t i = 0; i < mono.size(); ++i) {
        float& peak = peaks[i * CLIP_PEAKS / mono.size()];
        peak = std::max(peak, std::fabs(mono[i]));
    }
    std::vector<int> bytes;
    for (const float peak : peaks) {
        bytes.push_back(static_cast<int>(std::lround(std::min(1.0F, peak) * 255)));
    }
    return bytes;
}

} // namespace

std::vector<SoundClip> read_sound_clips(const std::string& input_path, const std::vector<ClipWindow>& windows)
{
    std::vector<SoundClip> clips(windows.size());
    if (windows.empty()) {
        return clips;
    }
    InputFile input(input_path);
    const int rate = input.info().samplerate;
    const auto channels = static_cast<std::size_t>(input.info().channels);
    struct Span {
        int64_t first, end; // frames
        std::vector<float> mono;
    };
    std::vector<Span> spans;
    int64_t last_end = 0;
    for (const ClipWindow& window : windows) {
        const auto first = static_cast<int64_t>(std::max(0.0, window.start) * rate);
        const auto end = std::max(first, static_cast<int64_t>(window.end * rate));
        spans.push_back({first, end, {}});
        last_end = std::max(last_end, end);
    }
    // One pass over the file, each block copied into every span it meets:
    // an hour's sound is never held whole.
    constexpr int64_t BLOCK = 8192;
    std::vector<float> block(static_cast<std::size_t>(BLOCK) * channels);
    int64_t position = 0;
    while (position < last_end) {
        const int64_t got = read_block(input, block.data(), BLOCK);
        if (got <= 0) {
            break;
        }
        for (Span& span : spans) {
            const int64_t from = std::max(span.first, position);
            const int64_t to = std::min(span.end, position + got);
            for (int64_t frame = from; frame < to; ++frame) {
                float sum = 0;
                for (std::size_t c = 0; c < channels; ++c) {
                    sum += block[static_cast<std::size_t>(frame - position) * channels + c];
                }
                span.mono.push_back(sum / static_cast<float>(channels));
            }
        }
        position += got;
    }
    for (std::size_t i = 0; i < spans.size(); ++i) {
        SoundClip& clip = clips[i];
        clip.start = static_cast<double>(spans[i].first) / rate;
        clip.end = clip.start + static_cast<double>(spans[i].mono.size()) / rate;
        if (!spans[i].mono.empty()) {
            clip.ogg_opus = encode_ogg_opus(spans[i].mono, rate);
            clip.peaks = peaks_of(spans[i].mono);
        }
    }
    return clips;
}

} // namespace zendrik_mask
