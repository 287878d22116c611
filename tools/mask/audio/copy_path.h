// SPDX-License-Identifier: ISC
// zendrik-mask's path for uncompressed PCM kept in its own format: the output
// is the input's bytes with only the masked samples' replaced by the tone.
// Every header, chunk and sample outside the ranges stays byte for byte as it
// was, whatever the container holds.
#ifndef ZENDRIK_MASK_COPY_PATH_H
#define ZENDRIK_MASK_COPY_PATH_H

#include "pcm_layout.h"
#include "ranges.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zendrik_mask {

class InputFile;
class TempFile;

// The tone, as the plugin makes it: `restart` sets its phase back to zero on
// every channel; `render` writes the next `frames` frames of one channel's
// tone. The copy path knows nothing more of the plugin that makes it.
struct ToneSource {
    std::function<void()> restart;
    std::function<void(unsigned channel, float* out, uint32_t frames)> render;
};

// Where the input keeps its samples, when it is uncompressed PCM in a
// container read by pcm_layout. Throws the bad-input Error when its header
// declares more samples than the file holds, or when libsndfile reads it
// otherwise (frames, channels, encoding). Its frames are the input's, also
// for a stream libsndfile reads as empty.
std::optional<SampleData> locate_samples(const InputFile& input, const std::string& path);

// Whether an output of libsndfile format `output` keeps an input of `input`
// as it is: same container and encoding, and the same byte order or the
// container's default.
bool keeps_format(int input, int output);

// Whether the run takes the copy path: the samples located, the format kept,
// and ZENDRIK_MASK_DECODE not set in the environment (it sends every file
// down the decode path, for benchmarks and comparisons). Throws the
// bad-input Error for a stream whose audio libsndfile cannot see (a data
// size of 0) bound for the decode path.
bool takes_copy_path(const std::optional<SampleData>& samples, const InputFile& input, const std::string& path,
                     int output_format);

struct MaskedCopy {
    int64_t frames = 0; // of the output
    int64_t masked = 0; // of those, frames with the tone on
};

// Writes into `temp` the bytes of `path` (the input, of `samples`) with the
// tone of `tone` in place of each range of `plan`, its blocks cut at
// multiples of `block` frames and at range edges as the decode path cuts
// them, then flushes it and reads back what it wrote. Throws write_failed.
MaskedCopy mask_in_copy(const InputFile& input, const std::string& path, const SampleData& samples, const Plan& plan,
                        const ToneSource& tone, int64_t block, TempFile& temp, const std::string& output_name,
                        bool show_progress);

} // namespace zendrik_mask

#endif
