// SPDX-License-Identifier: ISC
// zendrik-mask's output formats: the names --format takes for libsndfile's
// containers and encodings, and the choice of the output's format.
#ifndef ZENDRIK_MASK_FORMATS_H
#define ZENDRIK_MASK_FORMATS_H

#include <string>

namespace zendrik_mask {

// What the choice depends on, as in libsndfile's SF_INFO: the format
// (container | encoding | byte order), the sample rate and the channels.
struct StreamFormat {
    int format;
    int samplerate;
    int channels;
};

// The output's libsndfile format: the input's, with what `request`
// ("[container][:encoding]", empty for none) names replaced. When `request`
// names no container, the extension of `output_path` may: .wav .flac .ogg .oga
// .opus .mp3 .aiff .aif .caf .w64 .rf64 .au, any case; another or none keeps
// the input's container. When only the container changes and it cannot hold
// the input's encoding, the closest one it can hold. A request naming
// another container than the extension wins, and `conflict` (when given)
// says so. Throws the bad-input Error for an unknown name or a combination
// libsndfile cannot write.
int output_format(const std::string& request, const StreamFormat& input, const std::string& output_path = {},
                  std::string* conflict = nullptr);

// The names --format takes, aliases included, joined by `separator`.
std::string container_names(const char* separator);
std::string encoding_names(const char* separator);

} // namespace zendrik_mask

#endif
