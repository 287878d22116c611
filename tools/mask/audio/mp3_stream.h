// SPDX-License-Identifier: ISC
// An MP3 input's samples through libmpg123. libsndfile takes an MP3's length
// from a Xing or LAME header, or else guesses it from the first frame's bit
// rate, and stops reading at that guess: a VBR file without such a header
// loses its end, a CBR one seems truncated. Here every frame is counted
// before the plan is made, and the samples are read past any guess.
#ifndef ZENDRIK_MASK_MP3_STREAM_H
#define ZENDRIK_MASK_MP3_STREAM_H

#include <cstdint>
#include <string>
#include <vector>

struct mpg123_handle_struct;

namespace zendrik_mask {

// Holds standard error shut while it lives. libsndfile opens MP3 files
// with a libmpg123 handle it does not make quiet, which prints its own
// warnings ("Xing stream size off...") beside zendrik-mask's one line.
class SilencedStderr {
public:
    SilencedStderr();
    ~SilencedStderr();
    SilencedStderr(const SilencedStderr&) = delete;
    SilencedStderr& operator=(const SilencedStderr&) = delete;
};

class Mp3Stream {
public:
    // Opens `path` for `samplerate` and `channels` (what libsndfile saw in
    // the first frame) and counts its frames; throws the bad-input Error.
    Mp3Stream(const std::string& path, int samplerate, int channels);
    ~Mp3Stream();
    Mp3Stream(const Mp3Stream&) = delete;
    Mp3Stream& operator=(const Mp3Stream&) = delete;

    // Frames the whole stream decodes to, gapless trimming included.
    int64_t frames() const { return frames_; }
    // Reads up to `count` interleaved frames; returns how many, 0 at the end
    // or at an error (then error() says which).
    int64_t read(float* frames, int64_t count);
    int64_t read(double* frames, int64_t count);
    const std::string& error() const { return error_; }

private:
    mpg123_handle_struct* handle_ = nullptr;
    int channels_;
    int64_t frames_ = 0;
    std::string error_;
    std::vector<float> scratch_;
};

} // namespace zendrik_mask

#endif
