// SPDX-License-Identifier: ISC
#include "media_audio.h"

#include "audio_codec.h"
#include "errors.h"
#include "media_input.h"

extern "C" {
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zendrik_mask {

namespace {

class MediaAudio final : public DecodedAudio {
public:
    MediaAudio(const std::string& path, const std::vector<std::string>& picks)
        : input_(path), stream_(masked_streams(input_, picks).front()),
          decoder_(open_decoder(*input_.context()->streams[stream_], path)), packet_(make_packet()),
          frame_(make_frame())
    {
        channels_ = decoder_->ch_layout.nb_channels;
        AVChannelLayout* layout = &decoder_->ch_layout;
        const int rate = decoder_->sample_rate;
        if (swr_alloc_set_opts2(&converter_, layout, AV_SAMPLE_FMT_FLT, rate, layout, decoder_->sample_fmt, rate, 0,
                                nullptr)
                < 0
            || swr_init(converter_) < 0) {
            throw bad_input("cannot read input '" + path + "': cannot convert its samples");
        }
    }
    ~MediaAudio() override { swr_free(&converter_); }
    MediaAudio(const MediaAudio&) = delete;
    MediaAudio& operator=(const MediaAudio&) = delete;

    int rate() const { return decoder_->sample_rate; }
    int channels() const { return static_cast<int>(channels_); }
    int64_t frames() const { return input_.frames_of(stream_); }

    int64_t read(float* frames, int64_t count) override
    {
        int64_t done = 0;
        while (done < count) {
            const int64_t channels = channels_;
            const int64_t available = static_cast<int64_t>(pending_.size()) / channels - taken_;
            if (available > 0) {
                const int64_t take = std::min(available, count - done);
                std::copy_n(pending_.begin() + taken_ * channels, take * channels, frames + done * channels);
                taken_ += take;
                done += take;
                continue;
            }
            pending_.clear();
            taken_ = 0;
            if (!decode_more()) {
                break;
            }
        }
        return done;
    }
    std::string error() const override { return error_; }

private:
    // Decodes the next packet of the stream into `pending_`; false at the end or at an error.
    bool decode_more()
    {
        try {
            while (!ended_) {
                if (receive()) {
                    return true;
                }
                if (input_.read(packet_.get())) {
                    if (packet_->stream_index == stream_) {
                        avcodec_send_packet(decoder_.get(), packet_.get());
                    }
                    av_packet_unref(packet_.get());
                } else {
                    avcodec_send_packet(decoder_.get(), nullptr);
                    ended_ = !receive();
                    return !ended_;
                }
            }
        } catch (const Error& e) {
            error_ = e.message();
            ended_ = true;
        }
        return false;
    }

    bool receive()
    {
        const int got = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (got < 0) {
            if (got != AVERROR(EAGAIN) && got != AVERROR_EOF) {
                throw bad_input("input '" + input_.path() + "' is damaged: " + media_error(got));
            }
            return false;
        }
        // Silence up to where the sound starts, and in the holes of its
        // timestamps, so that times count from the input's 0 as it plays.
        const int64_t pts = frame_->best_effort_timestamp;
        const int64_t lead = started_ ? gap_before(input_, stream_, pts, rate(), produced_)
            : pts == AV_NOPTS_VALUE   ? 0
                                      : std::max<int64_t>(0, sample_at(input_, stream_, pts, rate()));
        started_ = true;
        pending_.insert(pending_.end(), static_cast<std::size_t>(lead * channels_), 0.0f);
        produced_ += lead + frame_->nb_samples;
        const std::size_t at = pending_.size();
        pending_.resize(at + static_cast<std::size_t>(frame_->nb_samples) * static_cast<std::size_t>(channels_));
        auto* out = reinterpret_cast<uint8_t*>(pending_.data() + at);
        swr_convert(converter_, &out, frame_->nb_samples, const_cast<const uint8_t**>(frame_->extended_data),
                    frame_->nb_samples);
        av_frame_unref(frame_.get());
        return true;
    }

    MediaInput input_;
    int stream_;
    CodecContext decoder_;
    SwrContext* converter_ = nullptr;
    Packet packet_;
    Frame frame_;
    int64_t channels_ = 1;
    std::vector<float> pending_;
    int64_t taken_ = 0;
    int64_t produced_ = 0; // samples given, silence included
    bool started_ = false, ended_ = false;
    std::string error_;
};

// FFmpeg's demuxers of the formats libsndfile and this program's own
// readers take: a file of theirs that they refuse is damaged, not another format.
bool sndfile_owns(const std::string& demuxer)
{
    for (const char* name : {"wav", "w64", "aiff", "caf", "au", "flac", "ogg", "mp3", "voc", "nistsphere", "ircam",
                             "avr", "sds", "wve", "rf64"}) {
        if (demuxer == name) {
            return true;
        }
    }
    return false;
}

} // namespace

std::unique_ptr<DecodedAudio> open_media_audio(const std::string& path, const std::vector<std::string>& picks,
                                               SF_INFO& info, const std::string& why)
{
    if (sndfile_owns(MediaInput(path).context()->iformat->name)) {
        throw bad_input("cannot read input '" + path + "': " + why);
    }
    auto audio = std::make_unique<MediaAudio>(path, picks);
    info = SF_INFO{};
    info.samplerate = audio->rate();
    info.channels = audio->channels();
    info.frames = audio->frames() >= 0 ? audio->frames() : SF_COUNT_MAX;
    return audio;
}

} // namespace zendrik_mask
