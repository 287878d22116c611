// SPDX-License-Identifier: ISC
#include "downmix.h"

#include "errors.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace zendrik_mask {

namespace {

void check(soxr_error_t error)
{
    if (error) {
        throw write_failed(std::string("resampling for the recogniser failed: ") + error);
    }
}

void append(const float* samples, std::size_t count, std::vector<int16_t>& out)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float scaled = std::clamp(samples[i] * 32767.0f, -32768.0f, 32767.0f);
        out.push_back(static_cast<int16_t>(std::lrint(scaled)));
    }
}

} // namespace

Downmix::Downmix(int input_rate) : rate_(input_rate)
{
    if (input_rate == RECOGNISER_RATE) {
        return;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    resampler_ = soxr_create(input_rate, RECOGNISER_RATE, 1, &error, &io, &quality, nullptr);
    if (error) {
        throw bad_input(std::string("cannot resample for the recogniser: ") + error);
    }
}

Downmix::~Downmix()
{
    if (resampler_) {
        soxr_delete(resampler_);
    }
}

void Downmix::add(const float* frames, std::size_t count, std::size_t channels, std::vector<int16_t>& out)
{
    mono_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        float sum = 0.0f;
        for (std::size_t c = 0; c < channels; ++c) {
            sum += frames[i * channels + c];
        }
        mono_[i] = sum / static_cast<float>(channels);
    }
    if (!resampler_) {
        append(mono_.data(), count, out);
        return;
    }
    resampled_.resize(count * RECOGNISER_RATE / static_cast<std::size_t>(rate_) + 64);
    for (std::size_t used = 0; used < count;) {
        std::size_t taken = 0;
        std::size_t produced = 0;
        check(soxr_process(resampler_, mono_.data() + used, count - used, &taken, resampled_.data(), resampled_.size(),
                           &produced));
        append(resampled_.data(), produced, out);
        used += taken;
    }
}

void Downmix::finish(std::vector<int16_t>& out)
{
    if (!resampler_) {
        return;
    }
    resampled_.resize(4096);
    std::size_t produced = 0;
    do {
        check(soxr_process(resampler_, nullptr, 0, nullptr, resampled_.data(), resampled_.size(), &produced));
        append(resampled_.data(), produced, out);
    } while (produced > 0);
}

void read_downmixed(InputFile& input, std::vector<int16_t>& pending, const std::function<bool()>& take,
                    const std::function<void(int64_t)>& on_frames)
{
    const auto channels = static_cast<std::size_t>(input.info().channels);
    constexpr std::size_t BLOCK = 8192;
    std::vector<float> block(BLOCK * channels);
    Downmix downmix(input.info().samplerate);
    int64_t frames_read = 0;
    for (;;) {
        const int64_t count = input.decoded() ? input.decoded()->read(block.data(), BLOCK)
            : input.mp3()                     ? input.mp3()->read(block.data(), BLOCK)
                                              : sf_readf_float(input.handle(), block.data(), BLOCK);
        if (count <= 0) {
            break;
        }
        frames_read += count;
        downmix.add(block.data(), static_cast<std::size_t>(count), channels, pending);
        if (!take()) {
            return;
        }
        if (on_frames) {
            on_frames(frames_read);
        }
    }
    input.check_read_whole(frames_read);
    downmix.finish(pending);
}

} // namespace zendrik_mask
