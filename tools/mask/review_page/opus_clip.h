// SPDX-License-Identifier: ISC
// Mono sound as a small Ogg Opus file, through FFmpeg's libopus encoder.
#ifndef ZENDRIK_MASK_OPUS_CLIP_H
#define ZENDRIK_MASK_OPUS_CLIP_H

#include <string>
#include <vector>

namespace zendrik_mask {

// Speech at 20 kbps: a 10-second clip stays near 25 KB, 34 KB once in base64.
// Throws write_failed when FFmpeg cannot encode.
std::string encode_ogg_opus(const std::vector<float>& mono, int rate);

} // namespace zendrik_mask

#endif
