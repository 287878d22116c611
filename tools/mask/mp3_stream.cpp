// SPDX-License-Identifier: ISC
#include "mp3_stream.h"

#include "errors.h"

#include <mpg123.h>

#include <cstddef>

namespace zendrik_mask {

Mp3Stream::Mp3Stream(const std::string& path, int samplerate, int channels) : channels_(channels)
{
    int err = MPG123_OK;
    handle_ = mpg123_new(nullptr, &err);
    if (!handle_) {
        throw bad_input(std::string("cannot decode MP3: ") + mpg123_plain_strerror(err));
    }
    mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
    mpg123_format_none(handle_);
    mpg123_format(handle_, samplerate, channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_FLOAT_32);
    long rate = 0;
    int found_channels = 0, encoding = 0;
    // The scan reads every frame header, so the length is the frames
    // present, not an estimate.
    if (mpg123_open(handle_, path.c_str()) != MPG123_OK
        || mpg123_getformat(handle_, &rate, &found_channels, &encoding) != MPG123_OK
        || mpg123_scan(handle_) != MPG123_OK) {
        const std::string why = mpg123_strerror(handle_);
        mpg123_delete(handle_);
        throw bad_input("cannot read input '" + path + "' as MP3: " + why);
    }
    const off_t length = mpg123_length(handle_);
    frames_ = length > 0 ? static_cast<int64_t>(length) : 0;
}

Mp3Stream::~Mp3Stream()
{
    mpg123_delete(handle_);
}

int64_t Mp3Stream::read(float* frames, int64_t count)
{
    const std::size_t frame_bytes = sizeof(float) * static_cast<std::size_t>(channels_);
    const std::size_t want = static_cast<std::size_t>(count) * frame_bytes;
    std::size_t got = 0;
    while (got < want) {
        std::size_t done = 0;
        const int status = mpg123_read(handle_, reinterpret_cast<unsigned char*>(frames) + got, want - got, &done);
        got += done;
        if (status == MPG123_DONE) {
            break;
        }
        if (status != MPG123_OK && status != MPG123_NEW_FORMAT) {
            error_ = mpg123_strerror(handle_);
            break;
        }
    }
    return static_cast<int64_t>(got / frame_bytes);
}

int64_t Mp3Stream::read(double* frames, int64_t count)
{
    scratch_.resize(static_cast<std::size_t>(count * channels_));
    const int64_t got = read(scratch_.data(), count);
    for (std::size_t i = 0; i < static_cast<std::size_t>(got * channels_); ++i) {
        frames[i] = static_cast<double>(scratch_[i]);
    }
    return got;
}

} // namespace zendrik_mask
