// SPDX-License-Identifier: ISC
// Audio as the recogniser hears it: mixed to mono and resampled to 16 kHz,
// block by block, in the order of the file; and the whole of an input read
// so, for the word finder and the aligner alike.
#ifndef ZENDRIK_MASK_DOWNMIX_H
#define ZENDRIK_MASK_DOWNMIX_H

#include "audio_file.h"
#include "recogniser.h"

#include <soxr.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zendrik_mask {

class Downmix {
public:
    explicit Downmix(int input_rate);
    ~Downmix();
    Downmix(const Downmix&) = delete;
    Downmix& operator=(const Downmix&) = delete;

    // `count` interleaved frames of `channels`, appended to `out`.
    void add(const float* frames, std::size_t count, std::size_t channels, std::vector<int16_t>& out);
    // What the resampler still holds, at the end.
    void finish(std::vector<int16_t>& out);

private:
    int rate_;
    soxr_t resampler_ = nullptr;
    std::vector<float> mono_;
    std::vector<float> resampled_;
};

// Reads `input` to its end, each block of it appended to `pending` at the
// recogniser's rate; `take` is called after each block and may remove what
// it used from the front of `pending`. Stops early when `take` returns false.
// Checks that the input was read whole; `on_frames` sees the frames read so far.
void read_downmixed(InputFile& input, std::vector<int16_t>& pending, const std::function<bool()>& take,
                    const std::function<void(int64_t)>& on_frames = {});

} // namespace zendrik_mask

#endif
