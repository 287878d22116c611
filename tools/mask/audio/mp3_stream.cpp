// SPDX-License-Identifier: ISC
#include "mp3_stream.h"

#include "errors.h"

#include <mpg123.h>

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// The MPEG frames a Xing or Info header (in the first frame, after the side
// information: 9, 17 or 32 bytes past the frame header) declares; -1 without
// one.
int64_t header_frame_count(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char bytes[56] = {};
    in.read(reinterpret_cast<char*>(bytes), 10);
    if (in.gcount() == 10 && std::memcmp(bytes, "ID3", 3) == 0) {
        // An ID3v2 tag first: its size is in 7-bit bytes.
        in.seekg(10 + ((bytes[6] & 0x7f) << 21 | (bytes[7] & 0x7f) << 14 | (bytes[8] & 0x7f) << 7 | (bytes[9] & 0x7f)));
    } else {
        in.seekg(0);
    }
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    for (const int offset : {4 + 9, 4 + 17, 4 + 32}) {
        const unsigned char* tag = bytes + offset;
        const bool frames_present = (tag[7] & 1) != 0;
        if ((std::memcmp(tag, "Xing", 4) == 0 || std::memcmp(tag, "Info", 4) == 0) && frames_present) {
            return int64_t{tag[8]} << 24 | int64_t{tag[9]} << 16 | int64_t{tag[10]} << 8 | int64_t{tag[11]};
        }
    }
    return -1;
}

} // namespace

namespace {

// Standard error is the process's: threads that silence it at once share one
// silence, which the last to end lifts.
std::mutex silence_lock;
int silenced = 0;
int saved_stderr = -1;

} // namespace

SilencedStderr::SilencedStderr()
{
    const std::lock_guard<std::mutex> hold(silence_lock);
    if (silenced++ > 0) {
        return;
    }
    saved_stderr = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

SilencedStderr::~SilencedStderr()
{
    const std::lock_guard<std::mutex> hold(silence_lock);
    if (--silenced == 0 && saved_stderr >= 0) {
        dup2(saved_stderr, STDERR_FILENO);
        close(saved_stderr);
        saved_stderr = -1;
    }
}

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
    // The scan counts what is there, so a file cut short would pass for a
    // shorter one; its header, when it has one, says what should be.
    const int64_t declared = header_frame_count(path);
    const auto present = static_cast<int64_t>(mpg123_framelength(handle_));
    if (declared > 0 && present < declared) {
        mpg123_delete(handle_);
        throw bad_input("input '" + path + "' is truncated or damaged: it holds " + std::to_string(present) + " of the "
                        + std::to_string(declared) + " MPEG frames its header declares");
    }
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
