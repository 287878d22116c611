// SPDX-License-Identifier: ISC
#include "media_input.h"

#include "errors.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>

namespace zendrik_mask {

namespace {

// FFmpeg prints its complaints on stderr, where they would come between the
// program's own lines: the last error is kept for the message instead.
thread_local std::string last_logged;

void keep_last_error(void* /*context*/, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
    last_logged = line;
    while (!last_logged.empty() && (last_logged.back() == '\n' || last_logged.back() == '.')) {
        last_logged.pop_back();
    }
}

std::string converted_name(const std::string& path)
{
    return std::filesystem::path(path).replace_extension(".flac").string();
}

} // namespace

std::string media_error(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    std::string message = text;
    if (!last_logged.empty() && last_logged != message) {
        message += " (" + last_logged + ")";
    }
    last_logged.clear();
    return message;
}

Packet make_packet()
{
    Packet packet(av_packet_alloc());
    if (!packet) {
        throw std::bad_alloc();
    }
    return packet;
}

Frame make_frame()
{
    Frame frame(av_frame_alloc());
    if (!frame) {
        throw std::bad_alloc();
    }
    return frame;
}

MediaInput::MediaInput(const std::string& path) : path_(path)
{
    av_log_set_callback(keep_last_error);
    last_logged.clear();
    // "file:" keeps a name with a colon from being taken for a protocol.
    const int opened = avformat_open_input(&context_, ("file:" + path).c_str(), nullptr, nullptr);
    if (opened == AVERROR_INVALIDDATA && last_logged.empty()) {
        last_logged.clear();
        throw bad_input("cannot read input '" + path + "': no reader for this format; convert it with ffmpeg -i " + path
                        + " " + converted_name(path));
    }
    if (opened < 0) {
        throw bad_input("cannot read input '" + path + "': it is damaged or cut short: " + media_error(opened));
    }
    const int found = avformat_find_stream_info(context_, nullptr);
    if (found < 0) {
        const std::string message = media_error(found);
        avformat_close_input(&context_);
        throw bad_input("cannot read input '" + path + "': " + message);
    }
    bool started = false;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        const AVStream& stream = *context_->streams[i];
        // Pictures and sound: subtitles and data do not say when a file starts.
        const AVMediaType type = stream.codecpar->codec_type;
        if (stream.start_time == AV_NOPTS_VALUE || (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0
            || (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)) {
            continue;
        }
        int64_t shown = av_rescale_q(stream.start_time, stream.time_base, AV_TIME_BASE_Q);
        // Matroska's Opus starts with the codec's delay, which players skip.
        const AVCodecParameters& codec = *stream.codecpar;
        if (codec.codec_type == AVMEDIA_TYPE_AUDIO && codec.initial_padding > 0 && codec.sample_rate > 0) {
            shown += av_rescale(codec.initial_padding, AV_TIME_BASE, codec.sample_rate);
        }
        zero_ = started ? std::min(zero_, shown) : shown;
        started = true;
    }
    check_index();
    stream_end_.assign(context_->nb_streams, AV_NOPTS_VALUE);
}

MediaInput::~MediaInput()
{
    avformat_close_input(&context_);
}

int64_t MediaInput::frames_of(int stream) const
{
    const AVStream* s = context_->streams[stream];
    const int rate = s->codecpar->sample_rate;
    if (rate <= 0) {
        return -1;
    }
    if (s->duration != AV_NOPTS_VALUE && s->duration > 0) {
        const int64_t start = s->start_time == AV_NOPTS_VALUE ? 0 : s->start_time;
        return sample_at(*this, stream, start + s->duration, rate);
    }
    if (context_->duration != AV_NOPTS_VALUE && context_->duration > 0) {
        return av_rescale(context_->duration, rate, AV_TIME_BASE);
    }
    return -1;
}

bool MediaInput::read(AVPacket* packet)
{
    const int status = av_read_frame(context_, packet);
    if (status == AVERROR_EOF) {
        check_whole();
        return false;
    }
    if (status < 0) {
        throw bad_input("input '" + path_ + "' is damaged or cut short: " + media_error(status));
    }
    const auto index = static_cast<std::size_t>(packet->stream_index);
    const int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (at != AV_NOPTS_VALUE) {
        const int64_t end = at + std::max<int64_t>(packet->duration, 0);
        stream_end_[index] = stream_end_[index] == AV_NOPTS_VALUE ? end : std::max(stream_end_[index], end);
    }
    return true;
}

// An MP4's index says where every packet lies: one past the end of the file
// is refused before any work.
void MediaInput::check_index()
{
    const int64_t size = context_->pb != nullptr ? avio_size(context_->pb) : -1;
    for (unsigned i = 0; size > 0 && i < context_->nb_streams; ++i) {
        const int entries = avformat_index_get_entries_count(context_->streams[i]);
        const AVIndexEntry* last = entries > 0 ? avformat_index_get_entry(context_->streams[i], entries - 1) : nullptr;
        if (last != nullptr && last->pos + last->size > size) {
            avformat_close_input(&context_);
            throw bad_input("input '" + path_ + "' is truncated or damaged: its index places stream "
                            + std::to_string(i) + " past the end of the file");
        }
    }
}

// Demuxers stop at a cut without a word: the duration the container
// declares (a Matroska file's) is compared with what was read.
void MediaInput::check_whole() const
{
    const auto cut_short
        = [&](const std::string& why) { return bad_input("input '" + path_ + "' is truncated or damaged: " + why); };
    if (context_->pb != nullptr && context_->pb->error < 0) {
        throw cut_short(media_error(context_->pb->error));
    }
    int64_t read_end = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        const AVStream* s = context_->streams[i];
        if (stream_end_[i] != AV_NOPTS_VALUE) {
            const int64_t end = av_rescale_q(stream_end_[i], s->time_base, AV_TIME_BASE_Q);
            read_end = read_end == AV_NOPTS_VALUE ? end : std::max(read_end, end);
        }
    }
    // A second's slack for containers whose duration is rounded or counts a
    // stream's last frame whole.
    if (context_->duration != AV_NOPTS_VALUE && context_->duration > 0 && read_end != AV_NOPTS_VALUE) {
        const int64_t declared_end = zero() + context_->duration;
        if (read_end < declared_end - AV_TIME_BASE) {
            throw cut_short("it ends at " + std::to_string(static_cast<double>(read_end - zero()) / AV_TIME_BASE)
                            + " s of the " + std::to_string(static_cast<double>(context_->duration) / AV_TIME_BASE)
                            + " s it declares");
        }
    }
}

std::vector<int> masked_streams(const MediaInput& input, const std::vector<std::string>& picks)
{
    const AVFormatContext* context = input.context();
    const auto is_audio = [&](unsigned i) {
        return context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO
            && (context->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
    };
    std::vector<int> streams;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        bool picked = picks.empty();
        for (const std::string& pick : picks) {
            const AVDictionaryEntry* language = av_dict_get(context->streams[i]->metadata, "language", nullptr, 0);
            picked = picked || pick == std::to_string(i) || (language != nullptr && pick == language->value);
        }
        if (picked && is_audio(i)) {
            streams.push_back(static_cast<int>(i));
        }
    }
    for (const std::string& pick : picks) {
        const bool found = std::any_of(streams.begin(), streams.end(), [&](int i) {
            const AVDictionaryEntry* language = av_dict_get(context->streams[i]->metadata, "language", nullptr, 0);
            return pick == std::to_string(i) || (language != nullptr && pick == language->value);
        });
        if (!found) {
            throw bad_input("--stream " + pick + ": no audio stream of '" + input.path()
                            + "' has that index or language");
        }
    }
    if (streams.empty()) {
        throw bad_input("input '" + input.path() + "' holds no audio stream");
    }
    return streams;
}

int64_t sample_at(const MediaInput& input, int stream, int64_t pts, int rate)
{
    const AVRational time_base = input.context()->streams[stream]->time_base;
    const int64_t zero = av_rescale_q(input.zero(), AV_TIME_BASE_Q, time_base);
    return av_rescale_q_rnd(pts - zero, time_base, AVRational{1, rate},
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t gap_before(const MediaInput& input, int stream, int64_t pts, int rate, int64_t position)
{
    // Matroska rounds timestamps to the millisecond: a jump of 10 ms is a hole.
    const int64_t gap = sample_at(input, stream, pts, rate) - position;
    return gap > rate / 100 ? gap : 0;
}

} // namespace zendrik_mask
