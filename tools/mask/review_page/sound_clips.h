// SPDX-License-Identifier: ISC
// The stretches of sound a review page plays: read from the input in one
// pass, mixed to mono, each encoded small enough to embed in the page.
#ifndef ZENDRIK_MASK_SOUND_CLIPS_H
#define ZENDRIK_MASK_SOUND_CLIPS_H

#include <cstdint>
#include <string>
#include <vector>

namespace zendrik_mask {

struct ClipWindow {
    double start, end; // seconds
};

struct SoundClip {
    double start = 0, end = 0; // seconds actually held, within the audio
    std::string ogg_opus;      // the stretch as an Ogg Opus file
    std::vector<int> peaks;    // the largest magnitude of each of CLIP_PEAKS equal slices, 0 to 255
};

constexpr std::size_t CLIP_PEAKS = 400;

// One clip per window, in the order given. Throws the bad-input Error when
// the input cannot be read, write_failed when the encoder fails.
std::vector<SoundClip> read_sound_clips(const std::string& input_path, const std::vector<ClipWindow>& windows);

} // namespace zendrik_mask

#endif
