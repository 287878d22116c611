// SPDX-License-Identifier: ISC
#include "subtitle_stream.h"

#include "errors.h"
#include "media_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <memory>

namespace zendrik_mask {

namespace {

bool is_subtitle(const AVStream& stream)
{
    return stream.codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
}

bool is_bitmap(const AVStream& stream)
{
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream.codecpar->codec_id);
    return descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_BITMAP_SUB) != 0;
}

std::string language_of(const AVStream& stream)
{
    const AVDictionaryEntry* language = av_dict_get(stream.metadata, "language", nullptr, 0);
    return language != nullptr ? language->value : "";
}

std::string codec_of(const AVStream& stream)
{
    return avcodec_get_name(stream.codecpar->codec_id);
}

struct SubtitleFree {
    void operator()(AVSubtitle* subtitle) const { avsubtitle_free(subtitle); }
};

} // namespace

SubtitleStream choose_subtitle_stream(const std::string& path, const std::string& pick)
{
    const MediaInput input(path);
    const AVFormatContext& context = *input.context();
    int chosen = -1;
    for (unsigned i = 0; i < context.nb_streams && chosen < 0; ++i) {
        const AVStream& stream = *context.streams[i];
        if (!is_subtitle(stream)) {
            continue;
        }
        if (pick.empty() ? (stream.disposition & AV_DISPOSITION_DEFAULT) != 0 && !is_bitmap(stream)
                         : pick == std::to_string(i) || pick == language_of(stream)) {
            chosen = static_cast<int>(i);
        }
    }
    // The first text stream, else the first of any kind, to be refused by name.
    for (const bool text_only : {true, false}) {
        for (unsigned i = 0; i < context.nb_streams && chosen < 0 && pick.empty(); ++i) {
            if (is_subtitle(*context.streams[i]) && !(text_only && is_bitmap(*context.streams[i]))) {
                chosen = static_cast<int>(i);
            }
        }
    }
    if (chosen < 0) {
        throw bad_input(pick.empty() ? "--subtitles: '" + path + "' holds no subtitle stream"
                                     : "--subtitles " + pick + ": no subtitle stream of '" + path
                                + "' has that index or language");
    }
    const AVStream& stream = *context.streams[chosen];
    if (is_bitmap(stream)) {
        throw bad_input("--subtitles: stream " + std::to_string(chosen) + " of '" + path + "' is " + codec_of(stream)
                        + ", subtitles drawn as pictures, which hold no text to read; choose a text stream");
    }
    return {chosen, language_of(stream), codec_of(stream)};
}

void read_subtitle_cues(const std::string& path, const SubtitleStream& chosen,
                        const std::function<void(SubtitleCue&&)>& sink)
{
    MediaInput input(path);
    const AVStream& stream = *input.context()->streams[chosen.index];
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decoder(
        codec != nullptr ? avcodec_alloc_context3(codec) : nullptr,
        [](AVCodecContext* context) { avcodec_free_context(&context); });
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0
        || (decoder->pkt_timebase = stream.time_base, avcodec_open2(decoder.get(), codec, nullptr)) < 0) {
        throw bad_input("--subtitles: cannot decode the " + chosen.codec + " subtitles of '" + path + "'");
    }
    const double zero = static_cast<double>(input.zero()) / AV_TIME_BASE;
    const double unit = av_q2d(stream.time_base);
    Packet packet = make_packet();
    while (input.read(packet.get())) {
        if (packet->stream_index != chosen.index || packet->pts == AV_NOPTS_VALUE) {
            av_packet_unref(packet.get());
            continue;
        }
        AVSubtitle decoded{};
        int got = 0;
        const int used = avcodec_decode_subtitle2(decoder.get(), &decoded, &got, packet.get());
        const std::unique_ptr<AVSubtitle, SubtitleFree> owned(got ? &decoded : nullptr);
        if (used < 0) {
            av_packet_unref(packet.get());
            throw bad_input("--subtitles: the subtitles of '" + path + "' are damaged: " + media_error(used));
        }
        SubtitleCue cue;
        cue.start = static_cast<double>(packet->pts) * unit - zero;
        const double shown_ms
            = got && decoded.end_display_time > decoded.start_display_time && decoded.end_display_time != UINT32_MAX
            ? decoded.end_display_time - decoded.start_display_time
            : 0;
        cue.end = packet->duration > 0 ? cue.start + static_cast<double>(packet->duration) * unit
                                       : cue.start + shown_ms / 1000.0;
        av_packet_unref(packet.get());
        for (unsigned r = 0; got && r < decoded.num_rects; ++r) {
            const AVSubtitleRect& rect = *decoded.rects[r];
            const std::string text = rect.ass != nullptr ? ass_event_text(rect.ass)
                : rect.text != nullptr                   ? rect.text
                                                         : "";
            cue.text += (cue.text.empty() ? "" : " ") + text;
        }
        if (!cue.text.empty() && cue.end > cue.start) {
            sink(std::move(cue));
        }
    }
}

int audio_stream_for(const std::string& path, const std::string& language)
{
    const MediaInput input(path);
    const AVFormatContext& context = *input.context();
    int by_language = -1, by_default = -1, first = -1;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVStream& stream = *context.streams[i];
        if (stream.codecpar->codec_type != AVMEDIA_TYPE_AUDIO
            || (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            continue;
        }
        const int index = static_cast<int>(i);
        first = first < 0 ? index : first;
        by_default = by_default < 0 && (stream.disposition & AV_DISPOSITION_DEFAULT) != 0 ? index : by_default;
        by_language = by_language < 0 && !language.empty() && language_of(stream) == language ? index : by_language;
    }
    return by_language >= 0 ? by_language : by_default >= 0 ? by_default : first;
}

std::string ass_event_text(const std::string& event)
{
    // ReadOrder, Layer, Style, Name, MarginL, MarginR, MarginV, Effect, Text.
    std::size_t at = 0;
    for (int field = 0; field < 8 && at != std::string::npos; ++field) {
        at = event.find(',', at);
        at = at == std::string::npos ? at : at + 1;
    }
    const std::string raw = at == std::string::npos ? event : event.substr(at);
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '{') {
            const std::size_t close = raw.find('}', i);
            if (close != std::string::npos) {
                i = close;
                continue;
            }
        }
        if (raw[i] == '\\' && i + 1 < raw.size() && (raw[i + 1] == 'N' || raw[i + 1] == 'n' || raw[i + 1] == 'h')) {
            text += ' ';
            ++i;
            continue;
        }
        text += raw[i];
    }
    return text;
}

} // namespace zendrik_mask
