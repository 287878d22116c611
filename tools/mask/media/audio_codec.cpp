// SPDX-License-Identifier: ISC
#include "audio_codec.h"

#include "errors.h"
#include "media_input.h"

#include <cstdlib>

namespace zendrik_mask {

namespace {

std::string codec_name(AVCodecID id)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    return descriptor != nullptr ? descriptor->name : "unknown";
}

// FFmpeg's own AAC encoder; Opus and Vorbis through their reference
// libraries, whose output players expect (FFmpeg's own are experimental).
const AVCodec* find_encoder(AVCodecID id)
{
    const char* preferred = id == AV_CODEC_ID_OPUS ? "libopus" : id == AV_CODEC_ID_VORBIS ? "libvorbis" : nullptr;
    const AVCodec* codec = preferred != nullptr ? avcodec_find_encoder_by_name(preferred) : nullptr;
    return codec != nullptr ? codec : avcodec_find_encoder(id);
}

// The decoder's format where the encoder takes it, else the same samples
// packed or planar, else the encoder's deepest: floats from AAC written as
// FLAC keep 24 bits, not 16.
AVSampleFormat encoder_format(const AVCodec& codec, AVSampleFormat decoded)
{
    if (codec.sample_fmts == nullptr) {
        return decoded;
    }
    for (const AVSampleFormat wanted :
         {decoded, av_get_packed_sample_fmt(decoded), av_get_planar_sample_fmt(decoded)}) {
        for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == wanted) {
                return wanted;
            }
        }
    }
    AVSampleFormat deepest = codec.sample_fmts[0];
    for (const AVSampleFormat* f = codec.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        deepest = av_get_bytes_per_sample(*f) > av_get_bytes_per_sample(deepest) ? *f : deepest;
    }
    return deepest;
}

// The bit rate the input was coded at: its header's, else the statistics
// tag Matroska muxers write; 0 leaves the encoder's default.
int64_t input_bit_rate(const AVStream& stream)
{
    if (stream.codecpar->bit_rate > 0) {
        return stream.codecpar->bit_rate;
    }
    const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "BPS", nullptr, 0);
    return tag != nullptr ? std::strtoll(tag->value, nullptr, 10) : 0;
}

} // namespace

CodecContext open_decoder(const AVStream& stream, const std::string& path)
{
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    CodecContext decoder(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    if (!decoder) {
        throw bad_input("cannot read input '" + path + "': no decoder for its " + codec_name(stream.codecpar->codec_id)
                        + " audio");
    }
    avcodec_parameters_to_context(decoder.get(), stream.codecpar);
    // Matroska leaves a PCM track's layout unknown; converters and some
    // encoders (ALAC) need one, and the count of channels gives it.
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC && decoder->ch_layout.nb_channels > 0) {
        const int channels = decoder->ch_layout.nb_channels;
        av_channel_layout_uninit(&decoder->ch_layout);
        av_channel_layout_default(&decoder->ch_layout, channels);
    }
    decoder->pkt_timebase = stream.time_base;
    const int opened = avcodec_open2(decoder.get(), codec, nullptr);
    if (opened < 0) {
        throw bad_input("cannot read input '" + path + "': cannot decode its " + codec_name(stream.codecpar->codec_id)
                        + " audio: " + media_error(opened));
    }
    return decoder;
}

bool is_lossless(const AVCodecParameters& codec)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec.codec_id);
    return descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0
        && (descriptor->props & AV_CODEC_PROP_LOSSY) == 0;
}

CodecContext open_encoder(const AVCodecContext& decoder, const AVStream& stream, const AVFormatContext& output,
                          const std::string& path, AVCodecID codec_asked)
{
    const AVCodecID id = codec_asked != AV_CODEC_ID_NONE ? codec_asked : stream.codecpar->codec_id;
    const AVCodec* codec = find_encoder(id);
    CodecContext encoder(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    if (!encoder) {
        throw bad_input("cannot write the " + codec_name(id) + " audio of '" + path
                        + "' again: no encoder for it; convert it with ffmpeg -i " + path + " -c:v copy -c:a flac "
                        + path + ".mkv");
    }
    encoder->sample_rate = decoder.sample_rate;
    av_channel_layout_copy(&encoder->ch_layout,
                           decoder.ch_layout.nb_channels > 0 ? &decoder.ch_layout : &stream.codecpar->ch_layout);
    encoder->sample_fmt = encoder_format(*codec, decoder.sample_fmt);
    encoder->time_base = AVRational{1, decoder.sample_rate};
    if (codec_asked != AV_CODEC_ID_NONE || is_lossless(*stream.codecpar)) {
        encoder->bits_per_raw_sample
            = decoder.bits_per_raw_sample > 0 ? decoder.bits_per_raw_sample : stream.codecpar->bits_per_raw_sample;
    } else {
        encoder->bit_rate = input_bit_rate(stream);
        encoder->profile = id == AV_CODEC_ID_AAC ? FF_PROFILE_AAC_LOW : FF_PROFILE_UNKNOWN;
    }
    if ((output.oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int opened = avcodec_open2(encoder.get(), codec, nullptr);
    if (opened < 0) {
        throw bad_input("cannot write the " + codec_name(id) + " audio of '" + path
                        + "' again with its rate and channels: " + media_error(opened));
    }
    return encoder;
}

std::string reencoding_warning(const AVStream& stream, int index, AVCodecID codec)
{
    if (codec != AV_CODEC_ID_NONE || is_lossless(*stream.codecpar)) {
        return "";
    }
    const int64_t rate = input_bit_rate(stream);
    return "audio stream " + std::to_string(index) + " (" + codec_name(stream.codecpar->codec_id)
        + ") is encoded again whole" + (rate > 0 ? " at " + std::to_string(rate / 1000) + " kbps" : "")
        + ", so its samples outside the ranges change too; the other streams are copied as they are";
}

} // namespace zendrik_mask
