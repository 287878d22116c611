// SPDX-License-Identifier: ISC
// Tags libsndfile does not carry, copied with TagLib between FLAC, Ogg
// Vorbis, Ogg Opus and MP3 files: every field and repeated value (custom
// ones, ISRC, ReplayGain), pictures, and between MP3 files every ID3v2 frame
// (chapters, publisher, TXXX).
#ifndef ZENDRIK_MASK_TAG_COPY_H
#define ZENDRIK_MASK_TAG_COPY_H

#include <string>
#include <vector>

namespace zendrik_mask {

// Whether TagLib reads or writes tags of files of this libsndfile format.
bool has_taglib_tags(int format);

// Copies the tags of `input` to the finished `output` (libsndfile formats
// given); returns what the output's format has no place for. Throws
// write_failed when the output cannot be saved.
std::vector<std::string> copy_tags(const std::string& input, int input_format, const std::string& output,
                                   int output_format);

} // namespace zendrik_mask

#endif
