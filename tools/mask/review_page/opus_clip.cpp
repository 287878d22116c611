// SPDX-License-Identifier: ISC
#include "opus_clip.h"

#include "errors.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace zendrik_mask {

namespace {

// libopus takes only a few rates; 24 kHz carries speech whole.
constexpr int OPUS_RATE = 24000;
constexpr int64_t BIT_RATE = 20000;

void check(int result, const char* step)
{
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(result, text, sizeof text);
        throw write_failed(std::string("review page: cannot encode a sound clip (") + step + "): " + text);
    }
}

std::vector<int16_t> resampled(const std::vector<float>& mono, int rate)
{
    SwrContext* raw = nullptr;
    AVChannelLayout layout = AV_CHANNEL_LAYOUT_MONO;
    check(
        swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_S16, OPUS_RATE, &layout, AV_SAMPLE_FMT_FLT, rate, 0, nullptr),
        "resampler");
    const std::unique_ptr<SwrContext, void (*)(SwrContext*)> swr(raw, [](SwrContext* s) { swr_free(&s); });
    check(swr_init(swr.get()), "resampler");
    std::vector<int16_t> out(
        static_cast<std::size_t>(swr_get_out_samples(swr.get(), static_cast<int>(mono.size())) + OPUS_RATE));
    auto* out_data = reinterpret_cast<uint8_t*>(out.data());
    const auto* in_data = reinterpret_cast<const uint8_t*>(mono.data());
    int made = swr_convert(swr.get(), &out_data, static_cast<int>(out.size()), &in_data, static_cast<int>(mono.size()));
    check(made, "resampler");
    uint8_t* tail = reinterpret_cast<uint8_t*>(out.data() + made);
    const int flushed = swr_convert(swr.get(), &tail, static_cast<int>(out.size()) - made, nullptr, 0);
    check(flushed, "resampler");
    out.resize(static_cast<std::size_t>(made + flushed));
    return out;
}

struct FormatFree {
    void operator()(AVFormatContext* format) const
    {
        if (format->pb != nullptr) {
            uint8_t* left = nullptr;
            avio_close_dyn_buf(format->pb, &left);
            av_free(left);
        }
        avformat_free_context(format);
    }
};

} // namespace

std::string encode_ogg_opus(const std::vector<float>& mono, int rate)
{
    const std::vector<int16_t> samples = resampled(mono, rate);
    const AVCodec* codec = avcodec_find_encoder_by_name("libopus");
    if (codec == nullptr) {
        throw write_failed("review page: FFmpeg has no libopus encoder");
    }
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> encoder(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    encoder->sample_rate = OPUS_RATE;
    encoder->sample_fmt = AV_SAMPLE_FMT_S16;
    encoder->bit_rate = BIT_RATE;
    encoder->time_base = {1, OPUS_RATE};
    av_channel_layout_default(&encoder->ch_layout, 1);
    av_opt_set(encoder->priv_data, "application", "voip", 0);
    // Listened to once, in a review: half the encoder's effort costs little of its quality.
    encoder->compression_level = 5;

    AVFormatContext* raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, "ogg", nullptr), "container");
    const std::unique_ptr<AVFormatContext, FormatFree> format(raw);
    if (format->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    check(avcodec_open2(encoder.get(), codec, nullptr), "encoder");
    AVStream* stream = avformat_new_stream(format.get(), nullptr);
    if (stream == nullptr) {
        throw write_failed("review page: out of memory");
    }
    check(avcodec_parameters_from_context(stream->codecpar, encoder.get()), "stream");
    stream->time_base = encoder->time_base;
    check(avio_open_dyn_buf(&format->pb), "buffer");
    // The clip's bytes must not depend on the FFmpeg build that made them.
    format->flags |= AVFMT_FLAG_BITEXACT;
    check(avformat_write_header(format.get(), nullptr), "header");

    const std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                                [](AVPacket* p) { av_packet_free(&p); });
    const std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    const auto drain = [&] {
        int result;
        while ((result = avcodec_receive_packet(encoder.get(), packet.get())) >= 0) {
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(format.get(), packet.get()), "packet");
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
            check(result, "packet");
        }
    };
    const auto frame_size = static_cast<std::size_t>(encoder->frame_size);
    for (std::size_t at = 0; at < samples.size(); at += frame_size) {
        av_frame_unref(frame.get());
        frame->nb_samples = encoder->frame_size;
        frame->format = AV_SAMPLE_FMT_S16;
        frame->sample_rate = OPUS_RATE;
        check(av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout), "frame");
        check(av_frame_get_buffer(frame.get(), 0), "frame");
        auto* data = reinterpret_cast<int16_t*>(frame->data[0]);
        for (std::size_t i = 0; i < frame_size; ++i) {
            data[i] = at + i < samples.size() ? samples[at + i] : 0;
        }
        frame->pts = static_cast<int64_t>(at);
        check(avcodec_send_frame(encoder.get(), frame.get()), "frame");
        drain();
    }
    check(avcodec_send_frame(encoder.get(), nullptr), "end");
    drain();
    check(av_write_trailer(format.get()), "trailer");
    uint8_t* bytes = nullptr;
    const int size = avio_close_dyn_buf(format->pb, &bytes);
    format->pb = nullptr;
    std::string file(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(std::max(size, 0)));
    av_free(bytes);
    return file;
}

} // namespace zendrik_mask
