// SPDX-License-Identifier: ISC
// The channels of an audio stream that --channels bleeps: by FFmpeg's
// names, or "centre", where 5.1 and 7.1 films keep their dialogue.
#ifndef ZENDRIK_MASK_CHANNEL_PICK_H
#define ZENDRIK_MASK_CHANNEL_PICK_H

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <string>
#include <vector>

namespace zendrik_mask {

// One flag per channel of `layout`, in its order: true where the tone goes.
// `names` is "" (every channel), "centre" (or "center"), or FFmpeg's channel
// names joined by commas ("FC,LFE"). Throws the bad-input Error, naming audio
// stream `stream` of `path`, for an unknown name and for a channel the
// layout does not have.
std::vector<bool> picked_channels(const AVChannelLayout& layout, const std::string& names, int stream,
                                  const std::string& path);

// Whether channel `index` of `layout` is a surround channel, which loudness
// weighs more (ITU-R BS.1770), or the LFE, which it leaves out.
bool is_surround_channel(const AVChannelLayout& layout, int index);
bool is_lfe_channel(const AVChannelLayout& layout, int index);

} // namespace zendrik_mask

#endif
