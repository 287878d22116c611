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
thread_local int64_t errors_logged = 0;
// A demuxer's own, apart: it may meet damage while the streams are probed.
thread_local std::string demuxer_said;

void keep_last_error(void* context, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_ERROR) {
        return;
    }
    ++errors_logged;
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
    last_logged = line;
    while (!last_logged.empty() && (last_logged.back() == '\n' || last_logged.back() == '.')) {
        last_logged.pop_back();
    }
    const AVClass* kind = context != nullptr ? *static_cast<AVClass**>(context) : nullptr;
    if (kind != nullptr
        && (kind->get_category != nullptr ? kind->get_category(context) : kind->category)
            == AV_CLASS_CATEGORY_DEMUXER) {
        demuxer_said = last_logged;
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
    demuxer_said.clear();
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
    damage_ = demuxer_said;
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
    last_start_.assign(context_->nb_streams, AV_NOPTS_VALUE);
    last_length_.assign(context_->nb_streams, 0);
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
    const int64_t end = declared_end();
    return end != AV_NOPTS_VALUE && end > zero_ ? av_rescale(end - zero_, rate, AV_TIME_BASE) : -1;
}

// On the timestamps' own line, in AV_TIME_BASE units. A stream's duration
// counts from its start; a header's (Matroska's segment, a movie header)
// from 0, as their muxers write them; FFmpeg's estimates (MPEG-TS, or from
// the bit rate) from the file's start.
int64_t MediaInput::declared_end() const
{
    int64_t end = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        const AVStream& s = *context_->streams[i];
        if (s.duration != AV_NOPTS_VALUE && s.duration > 0 && s.start_time != AV_NOPTS_VALUE) {
            end = std::max(end, av_rescale_q(s.start_time + s.duration, s.time_base, AV_TIME_BASE_Q));
        }
    }
    const int64_t duration = context_->duration;
    if (end != AV_NOPTS_VALUE || duration == AV_NOPTS_VALUE || duration <= 0) {
        return end;
    }
    const int64_t start = context_->start_time != AV_NOPTS_VALUE ? context_->start_time : 0;
    return context_->duration_estimation_method == AVFMT_DURATION_FROM_STREAM ? duration : start + duration;
}

bool MediaInput::read(AVPacket* packet)
{
    if (!damage_.empty()) {
        throw bad_input("input '" + path_ + "' is damaged or cut short: " + damage_);
    }
    last_logged.clear();
    const int64_t errors_before = errors_logged;
    const int status = av_read_frame(context_, packet);
    if (status == AVERROR_EOF) {
        check_whole();
        return false;
    }
    // A demuxer that meets damage says so, then reads on from where it finds its feet again.
    if (status < 0 || errors_logged != errors_before || (packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
        const std::string why = status < 0 ? media_error(status)
            : !last_logged.empty()         ? last_logged
                                           : "a packet is corrupt";
        last_logged.clear();
        throw bad_input("input '" + path_ + "' is damaged or cut short: " + why);
    }
    const auto index = static_cast<std::size_t>(packet->stream_index);
    if (index >= stream_end_.size()) {
        // FLV and MPEG-PS readers may find a stream late.
        stream_end_.resize(index + 1, AV_NOPTS_VALUE);
        last_start_.resize(index + 1, AV_NOPTS_VALUE);
        last_length_.resize(index + 1, 0);
    }
    const int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    const int64_t decoded_at = packet->dts != AV_NOPTS_VALUE ? packet->dts : at;
    if (at != AV_NOPTS_VALUE) {
        // Without a duration, a packet lasts as long as the one before it.
        const int64_t previous = last_start_[index];
        const int64_t length = packet->duration > 0               ? packet->duration
            : previous != AV_NOPTS_VALUE && decoded_at > previous ? decoded_at - previous
                                                                  : 0;
        const int64_t end = at + length;
        stream_end_[index] = stream_end_[index] == AV_NOPTS_VALUE ? end : std::max(stream_end_[index], end);
        last_start_[index] = decoded_at;
        last_length_[index] = length;
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
    int64_t last_frame = 0;
    for (unsigned i = 0; i < context_->nb_streams && i < stream_end_.size(); ++i) {
        const AVStream* s = context_->streams[i];
        const AVMediaType type = s->codecpar->codec_type;
        // A fragmented MP4 cut before its first fragment holds none.
        if (stream_end_[i] == AV_NOPTS_VALUE && (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO)
            && (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            throw cut_short("stream " + std::to_string(i) + " holds no packets");
        }
        if (stream_end_[i] != AV_NOPTS_VALUE) {
            const int64_t end = av_rescale_q(stream_end_[i], s->time_base, AV_TIME_BASE_Q);
            read_end = read_end == AV_NOPTS_VALUE ? end : std::max(read_end, end);
            last_frame = std::max(last_frame, av_rescale_q(last_length_[i], s->time_base, AV_TIME_BASE_Q));
        }
    }
    // The slack: a last frame that lasts longer than the one before it, and
    // durations rounded to the millisecond. A cut takes more.
    const int64_t declared = declared_end();
    if (declared != AV_NOPTS_VALUE && read_end != AV_NOPTS_VALUE
        && read_end < declared - last_frame - AV_TIME_BASE / 20) {
        const auto seconds
            = [&](int64_t at) { return std::to_string(static_cast<double>(at - zero()) / AV_TIME_BASE); };
        throw cut_short("it ends at " + seconds(read_end) + " s of the " + seconds(declared) + " s it declares");
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
    if (pts == AV_NOPTS_VALUE) {
        return 0;
    }
    // Matroska rounds timestamps to the millisecond: a jump of 10 ms is a hole.
    const int64_t gap = sample_at(input, stream, pts, rate) - position;
    return gap > rate / 100 ? gap : 0;
}

} // namespace zendrik_mask
