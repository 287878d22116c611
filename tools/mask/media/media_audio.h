// SPDX-License-Identifier: ISC
// The sound of a video or an AAC file as the word finder hears it: the
// first masked audio stream decoded to interleaved floats, from the input's
// 0 on (silence first when the sound starts after the picture).
#ifndef ZENDRIK_MASK_MEDIA_AUDIO_H
#define ZENDRIK_MASK_MEDIA_AUDIO_H

#include "audio_file.h"

#include <memory>
#include <string>
#include <vector>

namespace zendrik_mask {

// Opens the first of the streams `picks` names (see masked_streams) of
// `path` for InputFile: its rate and channels into `info`, its frames as the
// container gives them. Throws the bad-input Error, with libsndfile's word
// `why` for a file in a format libsndfile reads (a damaged WAV stays its).
std::unique_ptr<DecodedAudio> open_media_audio(const std::string& path, const std::vector<std::string>& picks,
                                               SF_INFO& info, const std::string& why);

} // namespace zendrik_mask

#endif
