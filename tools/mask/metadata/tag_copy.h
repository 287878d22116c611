// SPDX-License-Identifier: ISC
// Tags libsndfile does not carry, copied with TagLib between FLAC, Ogg
// Vorbis, Ogg Opus and MP3 files: every field and repeated value (custom
// ones, ISRC, ReplayGain), pictures, and between MP3 files every ID3v2 frame
// (chapters, publisher, TXXX) and the ID3v1 tag as it was. Into MP3 also the
// text of other inputs (WAV INFO, AIFF NAME, AUTH...) and the ID3 chunk of a
// WAV or AIFF file.
#ifndef ZENDRIK_MASK_TAG_COPY_H
#define ZENDRIK_MASK_TAG_COPY_H

#include "text_fields.h"

#include <string>
#include <vector>

namespace zendrik_mask {

// Whether TagLib reads or writes tags of files of this libsndfile format.
bool has_taglib_tags(int format);

// The first value of each field of the tags of `input`.
TextFields first_tag_values(const std::string& input, int input_format);

// Copies the tags of `input` to the finished `output` (libsndfile formats
// given; `text`, the strings libsndfile read from `input`); returns what the
// output's format has no place for. Throws write_failed when the output
// cannot be saved.
std::vector<std::string> copy_tags(const std::string& input, int input_format, const std::string& output,
                                   int output_format, const TextFields& text);

} // namespace zendrik_mask

#endif
