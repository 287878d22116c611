// SPDX-License-Identifier: ISC
#include "stream_mask.h"

#include "audio_file.h"
#include "errors.h"

#include <algorithm>
#include <cerrno>
#include <string>

namespace zendrik_mask {

namespace {

// Tone samples into one channel of a frame, at `offset`, of whatever sample
// type the decoder gives: integers scaled to the stream's depth as the other
// paths do (IntegerTone), floats as the plugin made them.
template <typename Sample, typename Convert>
void store(AVFrame& frame, int channel, int offset, const float* tone, int count, Convert convert)
{
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame.format)) != 0;
    auto* samples = reinterpret_cast<Sample*>(frame.extended_data[planar ? channel : 0]);
    const int step = planar ? 1 : channels;
    samples += planar ? offset : offset * channels + channel;
    for (int i = 0; i < count; ++i) {
        samples[i * step] = convert(tone[i]);
    }
}

void store_tone(AVFrame& frame, int channel, int offset, const float* tone, int count, int bits)
{
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame.format))) {
    case AV_SAMPLE_FMT_FLT: store<float>(frame, channel, offset, tone, count, [](float y) { return y; }); break;
    case AV_SAMPLE_FMT_DBL:
        store<double>(frame, channel, offset, tone, count, [](float y) { return static_cast<double>(y); });
        break;
    case AV_SAMPLE_FMT_S32: {
        const IntegerTone integer(bits);
        store<int32_t>(frame, channel, offset, tone, count, [&](float y) { return integer.from_plugin(y); });
        break;
    }
    case AV_SAMPLE_FMT_S16: {
        const IntegerTone integer(16);
        store<int16_t>(frame, channel, offset, tone, count,
                       [&](float y) { return static_cast<int16_t>(integer.from_plugin(y) >> 16); });
        break;
    }
    case AV_SAMPLE_FMT_U8: {
        const IntegerTone integer(8);
        store<uint8_t>(frame, channel, offset, tone, count,
                       [&](float y) { return static_cast<uint8_t>((integer.from_plugin(y) >> 24) + 128); });
        break;
    }
    default: throw bad_input("cannot put the tone into samples of type " + std::to_string(frame.format));
    }
}

} // namespace

StreamMask::StreamMask(const MediaInput& input, int stream, AVFormatContext& output, AVStream& output_stream, Plan plan,
                       ToneSource tone, std::vector<bool> channels, int64_t block, AVCodecID codec)
    : input_(input), stream_(stream), output_stream_(output_stream), plan_(std::move(plan)), tone_(std::move(tone)),
      channels_(std::move(channels)), block_(block), decoded_(make_frame()), converted_(make_frame()),
      encoded_(make_frame()), packet_(make_packet())
{
    const AVStream& in = *input.context()->streams[stream];
    decoder_ = open_decoder(in, input.path());
    encoder_ = open_encoder(*decoder_, in, output, input.path(), codec);
    avcodec_parameters_from_context(output_stream.codecpar, encoder_.get());
    output_stream.time_base = encoder_->time_base;
    const AVSampleFormat decoded = decoder_->sample_fmt;
    if (encoder_->sample_fmt != decoded) {
        AVChannelLayout* layout = &encoder_->ch_layout;
        const int rate = encoder_->sample_rate;
        if (swr_alloc_set_opts2(&converter_, layout, encoder_->sample_fmt, rate, layout, decoded, rate, 0, nullptr) < 0
            || swr_init(converter_) < 0) {
            throw write_failed("cannot convert the samples of audio stream " + std::to_string(stream));
        }
    }
    fifo_ = av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels, 4096);
    if (fifo_ == nullptr) {
        throw std::bad_alloc();
    }
    chunk_ = encoder_->frame_size > 0 ? encoder_->frame_size : 4096;
    // Decoders give whole frames; the container's duration (an MP4's edit
    // list) says where the sound stops.
    if (in.duration != AV_NOPTS_VALUE && in.duration > 0) {
        const int64_t start = in.start_time != AV_NOPTS_VALUE ? in.start_time : 0;
        end_ = sample_at(input, stream, start + in.duration, encoder_->sample_rate);
    } else if (!is_lossless(*output_stream.codecpar) && input.frames_of(stream) > 0) {
        // A lossy codec pads its last frame: the container's own duration
        // (Matroska's) is where the sound stops. Lossless ones are kept whole,
        // past a duration rounded down to the millisecond.
        end_ = input.frames_of(stream);
    }
    // Matroska readers take the codec's delay off every timestamp, which
    // FFmpeg's Matroska writer does not add: added here, the stream reads
    // back where the input's was and no stream is moved to make room. The
    // writer declares the delay of Opus only; other codecs' is dropped below.
    const std::string container = output.oformat->name;
    if ((container == "matroska" || container == "webm") && encoder_->codec_id == AV_CODEC_ID_OPUS) {
        written_delay_ = encoder_->initial_padding;
    }
    const int depth = decoder_->bits_per_raw_sample;
    bits_ = depth > 0 && depth <= 32 ? depth : 32;
}

StreamMask::~StreamMask()
{
    swr_free(&converter_);
    if (fifo_ != nullptr) {
        av_audio_fifo_free(fifo_);
    }
}

void StreamMask::send(const AVPacket* packet, const Writer& write)
{
    const auto damaged = [&](int code) {
        return bad_input("input '" + input_.path() + "' is damaged: audio stream " + std::to_string(stream_)
                         + " does not decode: " + media_error(code));
    };
    if (packet != nullptr && first_packet_pts_ == AV_NOPTS_VALUE) {
        first_packet_pts_ = packet->pts;
    }
    const int sent = avcodec_send_packet(decoder_.get(), packet);
    if (sent < 0 && sent != AVERROR_EOF) {
        throw damaged(sent);
    }
    while (true) {
        const int got = avcodec_receive_frame(decoder_.get(), decoded_.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            break;
        }
        if (got < 0) {
            throw damaged(got);
        }
        queue(*decoded_, write);
        av_frame_unref(decoded_.get());
    }
    if (packet == nullptr) {
        drain(write);
    }
}

void StreamMask::queue(AVFrame& frame, const Writer& write)
{
    if (position_ < 0) {
        // The first frame places the stream; the samples follow on from it,
        // as a player plays them.
        const int64_t pts = frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : 0;
        position_ = std::max<int64_t>(0, sample_at(input_, stream_, pts, encoder_->sample_rate));
        const AVRational time_base = input_.context()->streams[stream_]->time_base;
        next_pts_ = av_rescale_q(pts, time_base, encoder_->time_base);
        // The encoder's first packet, its delay ahead of the first frame,
        // goes no earlier than the input's: a container that counts in
        // milliseconds would otherwise shift every stream to make room.
        if (first_packet_pts_ != AV_NOPTS_VALUE) {
            next_pts_ = std::max(
                next_pts_, av_rescale_q(first_packet_pts_, time_base, encoder_->time_base) + encoder_->initial_padding);
        }
        // Samples that would play later by the encoder's delay, where the
        // container cannot say to skip it, are dropped instead: the input's
        // own delay (Matroska keeps AC3's, MP3's and AAC's in the stream)
        // is under them. Each pass would otherwise move the sound later.
        skip_ = next_pts_ - av_rescale_q(pts, time_base, encoder_->time_base);
    } else if (const int64_t gap
               = gap_before(input_, stream_, frame.best_effort_timestamp, encoder_->sample_rate, position_);
               gap > 0) {
        // A hole in the timestamps stays where it is: closed, it would pull
        // everything after it ahead of the picture.
        fill_silence(std::min(gap, end_ - position_), write);
    }
    frame.nb_samples = static_cast<int>(std::clamp<int64_t>(end_ - position_, 0, frame.nb_samples));
    if (frame.nb_samples == 0) {
        return;
    }
    if (av_frame_make_writable(&frame) < 0) {
        throw std::bad_alloc();
    }
    put_tone(frame, position_);
    position_ += frame.nb_samples;
    frames_ += frame.nb_samples;
    AVFrame* ready = &frame;
    if (converter_ != nullptr) {
        av_frame_unref(converted_.get());
        converted_->format = encoder_->sample_fmt;
        av_channel_layout_copy(&converted_->ch_layout, &encoder_->ch_layout);
        converted_->sample_rate = encoder_->sample_rate;
        if (swr_convert_frame(converter_, converted_.get(), &frame) < 0) {
            throw write_failed("cannot convert the samples of audio stream " + std::to_string(stream_));
        }
        ready = converted_.get();
    }
    if (av_audio_fifo_write(fifo_, reinterpret_cast<void**>(ready->extended_data), ready->nb_samples)
        < ready->nb_samples) {
        throw std::bad_alloc();
    }
    const int skipped = static_cast<int>(std::min<int64_t>(skip_, av_audio_fifo_size(fifo_)));
    av_audio_fifo_drain(fifo_, skipped);
    skip_ -= skipped;
    frames_ -= skipped;
    while (av_audio_fifo_size(fifo_) >= chunk_) {
        encode(chunk_, write);
    }
}

void StreamMask::fill_silence(int64_t samples, const Writer& write)
{
    if (samples <= 0) {
        return;
    }
    gap_samples_ += samples;
    first_gap_at_ = gaps_++ == 0 ? position_ : first_gap_at_;
    position_ += samples;
    frames_ += samples;
    const int block = 4096;
    const Frame silence = make_frame();
    silence->nb_samples = block;
    silence->format = encoder_->sample_fmt;
    av_channel_layout_copy(&silence->ch_layout, &encoder_->ch_layout);
    if (av_frame_get_buffer(silence.get(), 0) < 0) {
        throw std::bad_alloc();
    }
    av_samples_set_silence(silence->extended_data, 0, block, silence->ch_layout.nb_channels, encoder_->sample_fmt);
    for (int64_t left = samples; left > 0;) {
        const int now = static_cast<int>(std::min<int64_t>(left, block));
        if (av_audio_fifo_write(fifo_, reinterpret_cast<void**>(silence->extended_data), now) < now) {
            throw std::bad_alloc();
        }
        left -= now;
        while (av_audio_fifo_size(fifo_) >= chunk_) {
            encode(chunk_, write);
        }
    }
}

std::string StreamMask::gap_warning() const
{
    if (gaps_ == 0) {
        return "";
    }
    const int rate = encoder_->sample_rate;
    return "audio stream " + std::to_string(stream_) + " of '" + input_.path() + "' has " + std::to_string(gaps_)
        + (gaps_ == 1 ? " hole" : " holes") + " in its timestamps (" + format_time(time_of(gap_samples_, rate))
        + " in all, the first at " + format_time(time_of(first_gap_at_, rate))
        + "), filled with silence so that it stays in sync";
}

void StreamMask::put_tone(AVFrame& frame, int64_t position)
{
    const std::vector<FrameRange>& ranges = plan_.ranges;
    const int64_t end = position + frame.nb_samples;
    while (range_ < ranges.size() && ranges[range_].end <= position) {
        ++range_;
    }
    for (std::size_t r = range_; r < ranges.size() && ranges[r].start < end; ++r) {
        if (tone_on_ != r) {
            tone_.restart();
            tone_on_ = r;
        }
        int64_t at = std::max(ranges[r].start, position);
        const int64_t stop = std::min(ranges[r].end, end);
        masked_ += stop - at;
        while (at < stop) {
            // The decode path's blocks start at multiples of `block`.
            const auto length = static_cast<uint32_t>(std::min(stop, (at / block_ + 1) * block_) - at);
            tone_samples_.resize(length);
            for (int c = 0; c < frame.ch_layout.nb_channels; ++c) {
                // The channels left out keep their sound: the music and effects of a film.
                if (static_cast<std::size_t>(c) < channels_.size() && !channels_[static_cast<std::size_t>(c)]) {
                    continue;
                }
                tone_.render(static_cast<unsigned>(c), tone_samples_.data(), length);
                store_tone(frame, c, static_cast<int>(at - position), tone_samples_.data(), static_cast<int>(length),
                           bits_);
            }
            at += length;
        }
    }
}

void StreamMask::encode(int samples, const Writer& write)
{
    AVFrame* frame = nullptr;
    if (samples > 0) {
        frame = encoded_.get();
        av_frame_unref(frame);
        frame->nb_samples = samples;
        frame->format = encoder_->sample_fmt;
        frame->sample_rate = encoder_->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout);
        if (av_frame_get_buffer(frame, 0) < 0) {
            throw std::bad_alloc();
        }
        av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame->extended_data), samples);
        frame->pts = next_pts_;
        next_pts_ += samples;
    }
    const auto failed = [&](int code) {
        return write_failed("cannot encode audio stream " + std::to_string(stream_) + ": " + media_error(code));
    };
    const int sent = avcodec_send_frame(encoder_.get(), frame);
    if (sent < 0) {
        throw failed(sent);
    }
    int got = 0;
    while ((got = avcodec_receive_packet(encoder_.get(), packet_.get())) >= 0) {
        packet_->pts += packet_->pts != AV_NOPTS_VALUE ? written_delay_ : 0;
        packet_->dts += packet_->dts != AV_NOPTS_VALUE ? written_delay_ : 0;
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, output_stream_.time_base);
        packet_->stream_index = output_stream_.index;
        write(packet_.get());
        av_packet_unref(packet_.get());
    }
    if (got != AVERROR(EAGAIN) && got != AVERROR_EOF) {
        throw failed(got);
    }
}

void StreamMask::drain(const Writer& write)
{
    if (av_audio_fifo_size(fifo_) > 0) {
        encode(av_audio_fifo_size(fifo_), write);
    }
    encode(0, write);
}

} // namespace zendrik_mask
