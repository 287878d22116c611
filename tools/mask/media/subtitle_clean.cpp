// SPDX-License-Identifier: ISC
#include "subtitle_clean.h"

#include "errors.h"
#include "media_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>

namespace zendrik_mask {

namespace {

std::size_t code_points(std::string_view text)
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); at += decode_utf8(text.substr(at)).length) {
        ++count;
    }
    return count;
}

unsigned read16(const std::string& bytes, std::size_t at)
{
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) << 8U
                                 | static_cast<unsigned char>(bytes[at + 1]));
}

void write16(std::string& bytes, std::size_t at, std::size_t value)
{
    bytes[at] = static_cast<char>((value >> 8U) & 0xFFU);
    bytes[at + 1] = static_cast<char>(value & 0xFFU);
}

// For each character of `text`, where it lies once `edits` are made; a
// character inside a replaced word goes to that word's replacement.
std::vector<std::size_t> moved_characters(std::string_view text, const std::vector<TextEdit>& edits)
{
    std::vector<std::size_t> moved;
    std::size_t now = 0, at = 0, edit = 0;
    while (true) {
        if (edit < edits.size() && at == edits[edit].begin) {
            const std::size_t old_length = code_points(text.substr(at, edits[edit].end - at));
            const std::size_t new_length = code_points(edits[edit].replacement);
            for (std::size_t k = 0; k < old_length; ++k) {
                moved.push_back(now + std::min(k, new_length));
            }
            now += new_length;
            at = edits[edit++].end;
            continue;
        }
        moved.push_back(now);
        if (at >= text.size()) {
            return moved;
        }
        at += decode_utf8(text.substr(at)).length;
        ++now;
    }
}

// 3GPP timed text: the text's length in two bytes, the text, then boxes;
// those of styles, highlights, blinking, links and karaoke name characters.
std::optional<std::string> clean_mov_text(const std::string& data, double start, double end, const CueEdits& edits)
{
    const std::size_t length = data.size() >= 2 ? read16(data, 0) : data.size() + 1;
    if (2 + length > data.size()) {
        return std::nullopt;
    }
    const std::string text = data.substr(2, length);
    const std::vector<TextEdit> changes = edits(text, false, start, end);
    const std::string cleaned = apply_edits(text, changes);
    if (changes.empty() || cleaned.size() > 0xFFFF) {
        return std::nullopt;
    }
    const std::vector<std::size_t> moved = moved_characters(text, changes);
    std::string boxes = data.substr(2 + length);
    const auto shift = [&](std::size_t at) {
        const std::size_t offset = read16(boxes, at);
        // An offset past the text (a style to its end) stays past it, not wrapped into it.
        write16(boxes, at,
                std::min<std::size_t>(
                    offset < moved.size() ? moved[offset] : moved.back() + (offset - (moved.size() - 1)), 0xFFFF));
    };
    for (std::size_t box = 0; box + 8 <= boxes.size();) {
        const std::size_t size = read16(boxes, box) << 16U | read16(boxes, box + 2);
        if (size < 8 || box + size > boxes.size()) {
            break;
        }
        const std::string type = boxes.substr(box + 4, 4);
        const std::size_t payload = box + 8, stop = box + size;
        if (type == "styl" && payload + 2 <= stop) {
            for (std::size_t entry = payload + 2, n = read16(boxes, payload); n > 0 && entry + 12 <= stop;
                 --n, entry += 12) {
                shift(entry);
                shift(entry + 2);
            }
        } else if ((type == "hlit" || type == "blnk" || type == "href") && payload + 4 <= stop) {
            shift(payload);
            shift(payload + 2);
        } else if (type == "krok" && payload + 6 <= stop) {
            for (std::size_t entry = payload + 6, n = read16(boxes, payload + 4); n > 0 && entry + 8 <= stop;
                 --n, entry += 8) {
                shift(entry + 4);
                shift(entry + 6);
            }
        }
        box = stop;
    }
    std::string packet(2, '\0');
    write16(packet, 0, cleaned.size());
    return packet + cleaned + boxes;
}

struct OutputFree {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};

} // namespace

PacketText packet_text(const AVStream& stream)
{
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
        return PacketText::none;
    }
    switch (stream.codecpar->codec_id) {
    case AV_CODEC_ID_SUBRIP:
    case AV_CODEC_ID_TEXT:
    case AV_CODEC_ID_WEBVTT: return PacketText::plain;
    case AV_CODEC_ID_ASS:
    case AV_CODEC_ID_SSA: return PacketText::ass_event;
    case AV_CODEC_ID_MOV_TEXT: return PacketText::mov_text;
    default: {
        const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream.codecpar->codec_id);
        return descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_BITMAP_SUB) != 0 ? PacketText::bitmap
                                                                                            : PacketText::none;
    }
    }
}

bool clean_subtitle_packet(AVPacket& packet, PacketText kind, double start, double end, const CueEdits& edits)
{
    if (!edits) {
        return false;
    }
    const std::string data(reinterpret_cast<const char*>(packet.data), static_cast<std::size_t>(packet.size));
    std::optional<std::string> cleaned;
    if (kind == PacketText::mov_text) {
        cleaned = clean_mov_text(data, start, end, edits);
    } else if (kind == PacketText::plain || kind == PacketText::ass_event) {
        const std::vector<TextEdit> changes = edits(data, kind == PacketText::ass_event, start, end);
        if (!changes.empty()) {
            cleaned = apply_edits(data, changes);
        }
    }
    if (!cleaned) {
        return false;
    }
    // The packet's own timing, flags and side data stay; only its bytes change.
    const int size = static_cast<int>(cleaned->size());
    if (av_packet_make_writable(&packet) < 0
        || (size > packet.size ? av_grow_packet(&packet, size - packet.size) < 0 : false)) {
        throw std::bad_alloc();
    }
    av_shrink_packet(&packet, size);
    std::memcpy(packet.data, cleaned->data(), cleaned->size());
    return true;
}

std::string cleaned_subtitle_file(const std::string& path, int stream, const CueEdits& edits)
{
    MediaInput input(path);
    const AVStream& from = *input.context()->streams[stream];
    const PacketText kind = packet_text(from);
    const AVCodecID codec = from.codecpar->codec_id;
    const char* container = kind == PacketText::ass_event ? "ass" : codec == AV_CODEC_ID_WEBVTT ? "webvtt" : "srt";
    const auto refuse = [&](int code) {
        return bad_input("--write-subtitles: cannot write the " + std::string(avcodec_get_name(codec))
                         + " subtitles of '" + path + "' as " + container + ": " + media_error(code));
    };
    AVFormatContext* allocated = nullptr;
    if (kind == PacketText::none || kind == PacketText::bitmap
        || avformat_alloc_output_context2(&allocated, nullptr, container, nullptr) < 0) {
        throw refuse(AVERROR(EINVAL));
    }
    const std::unique_ptr<AVFormatContext, OutputFree> output(allocated);
    AVStream* to = avformat_new_stream(output.get(), nullptr);
    if (to == nullptr || avcodec_parameters_copy(to->codecpar, from.codecpar) < 0) {
        throw std::bad_alloc();
    }
    if (kind == PacketText::mov_text) {
        // Its text alone is SubRip's, without the styles' boxes.
        to->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
        to->codecpar->codec_tag = 0;
        av_freep(&to->codecpar->extradata);
        to->codecpar->extradata_size = 0;
    }
    to->time_base = from.time_base;
    int status = avio_open_dyn_buf(&output->pb);
    if (status < 0 || (status = avformat_write_header(output.get(), nullptr)) < 0) {
        throw refuse(status);
    }
    const double unit = av_q2d(from.time_base);
    const int64_t zero = av_rescale_q(input.zero(), AV_TIME_BASE_Q, from.time_base);
    const Packet packet = make_packet();
    while (input.read(packet.get())) {
        if (packet->stream_index != stream || packet->pts == AV_NOPTS_VALUE) {
            av_packet_unref(packet.get());
            continue;
        }
        const double start = static_cast<double>(packet->pts - zero) * unit;
        clean_subtitle_packet(*packet, kind, start,
                              start + static_cast<double>(std::max<int64_t>(packet->duration, 0)) * unit, edits);
        if (kind == PacketText::mov_text) {
            const std::size_t length = packet->size >= 2 ? (packet->data[0] << 8U | packet->data[1]) : 0;
            packet->data += 2;
            packet->size = static_cast<int>(std::min<std::size_t>(length, static_cast<std::size_t>(packet->size - 2)));
        }
        packet->pts -= zero;
        packet->dts = packet->dts == AV_NOPTS_VALUE ? packet->dts : packet->dts - zero;
        packet->stream_index = 0;
        packet->pos = -1;
        av_packet_rescale_ts(packet.get(), from.time_base, to->time_base);
        status = packet->size > 0 ? av_write_frame(output.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (status < 0) {
            throw refuse(status);
        }
    }
    status = av_write_trailer(output.get());
    uint8_t* bytes = nullptr;
    const int size = avio_close_dyn_buf(output->pb, &bytes);
    output->pb = nullptr;
    std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(std::max(size, 0)));
    av_free(bytes);
    if (status < 0) {
        throw refuse(status);
    }
    return text;
}

} // namespace zendrik_mask
