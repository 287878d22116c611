// SPDX-License-Identifier: ISC
// What the masked file is written as: the container its name says, and the
// codec of its masked audio, the input's own unless --format names a
// lossless one for people who edit the sound further.
#ifndef ZENDRIK_MASK_OUTPUT_CHOICE_H
#define ZENDRIK_MASK_OUTPUT_CHOICE_H

#include "media_input.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <string>
#include <vector>

namespace zendrik_mask {

struct MediaOutput {
    const AVOutputFormat* container = nullptr;
    AVCodecID audio = AV_CODEC_ID_NONE; // of every masked stream; none keeps each one's own
};

// The container the extension of `output_name` names, else the one the
// container part of `request` ("[container][:codec]", --format's) names,
// else the input's. The codec: the one `request` names (flac, alac, pcm16,
// pcm24, pcm32, float), else the lossless one its container takes (ALAC in
// MP4, M4A and MOV, FLAC in Matroska). Throws the bad-input Error, before
// anything is written, for a name that is neither, a container that is not
// the output's, and a codec the container cannot hold for `streams` of
// `input`, asked of the muxer itself.
MediaOutput choose_media_output(const MediaInput& input, const std::vector<int>& streams,
                                const std::string& output_name, const std::string& request);

} // namespace zendrik_mask

#endif
