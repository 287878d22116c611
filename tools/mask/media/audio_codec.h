// SPDX-License-Identifier: ISC
// The masked stream's decoder and the encoder that writes it again as it
// was: the same codec, rate and channel layout, lossless codecs with the
// same sample depth, lossy ones at the same bit rate.
#ifndef ZENDRIK_MASK_AUDIO_CODEC_H
#define ZENDRIK_MASK_AUDIO_CODEC_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>
#include <string>

namespace zendrik_mask {

struct CodecContextFree {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;

// Throws the bad-input Error naming `path` when FFmpeg cannot decode it.
CodecContext open_decoder(const AVStream& stream, const std::string& path);

// Whether the stream's codec keeps every sample: ALAC, FLAC, PCM and the like.
bool is_lossless(const AVCodecParameters& codec);

// The encoder for the input stream `stream`, decoded by `decoder`, bound
// for `output`: of the stream's own codec, or of the lossless `codec` when
// one is given. Throws the bad-input Error naming `path` when there is none.
CodecContext open_encoder(const AVCodecContext& decoder, const AVStream& stream, const AVFormatContext& output,
                          const std::string& path, AVCodecID codec = AV_CODEC_ID_NONE);

// The warning that a lossy stream is encoded again whole, with its own
// codec (`codec` none) or another; "" when what is written is lossless.
std::string reencoding_warning(const AVStream& stream, int index, AVCodecID codec = AV_CODEC_ID_NONE);

} // namespace zendrik_mask

#endif
