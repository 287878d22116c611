// SPDX-License-Identifier: ISC
#include "still_frame.h"

#include "audio_codec.h"
#include "errors.h"
#include "media_input.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace zendrik_mask {

namespace {

constexpr int WIDEST = 320;

int video_stream(const AVFormatContext& context)
{
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream& stream = *context.streams[i];
        if (stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The first picture shown at or after `time`, decoded.
Frame picture_at(MediaInput& input, int index, AVCodecContext& decoder, double time)
{
    AVFormatContext& context = *input.context();
    const int64_t target = input.zero() + static_cast<int64_t>(time * AV_TIME_BASE);
    if (av_seek_frame(&context, -1, target, AVSEEK_FLAG_BACKWARD) < 0) {
        return nullptr;
    }
    avcodec_flush_buffers(&decoder);
    const AVRational time_base = context.streams[index]->time_base;
    const Packet packet = make_packet();
    Frame frame = make_frame();
    while (av_read_frame(&context, packet.get()) >= 0) {
        const bool ours = packet->stream_index == index;
        if (ours && avcodec_send_packet(&decoder, packet.get()) < 0) {
            av_packet_unref(packet.get());
            return nullptr;
        }
        av_packet_unref(packet.get());
        while (ours && avcodec_receive_frame(&decoder, frame.get()) >= 0) {
            const int64_t shown = av_rescale_q(frame->best_effort_timestamp, time_base, AV_TIME_BASE_Q);
            if (frame->best_effort_timestamp == AV_NOPTS_VALUE || shown >= target) {
                return frame;
            }
        }
    }
    return nullptr;
}

// Planar 8-bit YUV shrunk by a whole factor, each pixel the mean of its box,
// as JPEG's full-range 4:2:0 (swscale is not among the libraries linked).
Frame shrunk(const AVFrame& picture)
{
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
    if (format == nullptr || format->nb_components != 3 || (format->flags & AV_PIX_FMT_FLAG_RGB)
        || !(format->flags & AV_PIX_FMT_FLAG_PLANAR) || format->comp[0].depth != 8) {
        return nullptr;
    }
    const int factor = (picture.width + WIDEST - 1) / WIDEST;
    Frame small = make_frame();
    small->format = AV_PIX_FMT_YUVJ420P;
    small->width = picture.width / factor / 2 * 2;
    small->height = picture.height / factor / 2 * 2;
    if (small->width < 2 || small->height < 2 || av_frame_get_buffer(small.get(), 0) < 0) {
        return nullptr;
    }
    for (int plane = 0; plane < 3; ++plane) {
        const int shift_x = plane == 0 ? 0 : format->log2_chroma_w, shift_y = plane == 0 ? 0 : format->log2_chroma_h;
        const int out_shift = plane == 0 ? 0 : 1;
        const int out_width = small->width >> out_shift, out_height = small->height >> out_shift;
        // The box, in the source plane's pixels, that one output pixel covers.
        const int box_x = std::max(1, (factor << out_shift) >> shift_x);
        const int box_y = std::max(1, (factor << out_shift) >> shift_y);
        for (int y = 0; y < out_height; ++y) {
            for (int x = 0; x < out_width; ++x) {
                int sum = 0;
                for (int dy = 0; dy < box_y; ++dy) {
                    const uint8_t* row
                        = picture.data[plane] + static_cast<std::ptrdiff_t>(y * box_y + dy) * picture.linesize[plane];
                    for (int dx = 0; dx < box_x; ++dx) {
                        sum += row[x * box_x + dx];
                    }
                }
                small->data[plane][y * small->linesize[plane] + x] = static_cast<uint8_t>(sum / (box_x * box_y));
            }
        }
    }
    return small;
}

std::string jpeg_of(const AVFrame& picture)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    CodecContext encoder(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    if (!encoder) {
        return "";
    }
    encoder->width = picture.width;
    encoder->height = picture.height;
    encoder->pix_fmt = AV_PIX_FMT_YUVJ420P;
    encoder->time_base = {1, 25};
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = FF_QP2LAMBDA * 6;
    const Packet packet = make_packet();
    if (avcodec_open2(encoder.get(), codec, nullptr) < 0 || avcodec_send_frame(encoder.get(), &picture) < 0
        || avcodec_send_frame(encoder.get(), nullptr) < 0 || avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
        return "";
    }
    return {reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size)};
}

} // namespace

std::vector<std::string> still_frames(const std::string& path, const std::vector<double>& times)
{
    std::vector<std::string> stills(times.size());
    try {
        MediaInput input(path);
        const int index = video_stream(*input.context());
        if (index < 0) {
            return stills;
        }
        CodecContext decoder = open_decoder(*input.context()->streams[index], path);
        for (std::size_t i = 0; i < times.size(); ++i) {
            const Frame picture = picture_at(input, index, *decoder, times[i]);
            const Frame small = picture ? shrunk(*picture) : nullptr;
            stills[i] = small ? jpeg_of(*small) : "";
        }
    } catch (const Error&) {
        // No picture is no reason to refuse the page.
    }
    return stills;
}

} // namespace zendrik_mask
