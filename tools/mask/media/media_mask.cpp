// SPDX-License-Identifier: ISC
#include "media_mask.h"

#include "errors.h"
#include "output_check.h"
#include "progress.h"
#include "stream_mask.h"
#include "subtitle_clean.h"
#include "temp_file.h"

#include <algorithm>
#include <memory>

namespace zendrik_mask {

namespace {

struct OutputFree {
    void operator()(AVFormatContext* context) const
    {
        if (context->pb != nullptr) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
using Output = std::unique_ptr<AVFormatContext, OutputFree>;

// A copied stream as the input holds it; its tag dropped only where the
// output's container has another for the codec.
void copy_stream(const AVStream& in, AVStream& out, const AVFormatContext& output)
{
    avcodec_parameters_copy(out.codecpar, in.codecpar);
    const AVCodecTag* const* tags = output.oformat->codec_tag;
    if (tags != nullptr && av_codec_get_id(tags, in.codecpar->codec_tag) != in.codecpar->codec_id) {
        out.codecpar->codec_tag = 0;
    }
    out.time_base = in.time_base;
    out.avg_frame_rate = in.avg_frame_rate;
    out.r_frame_rate = in.r_frame_rate;
    out.sample_aspect_ratio = in.sample_aspect_ratio;
}

// Matroska keeps cover art as an attachment, which FFmpeg's reader shows
// as a picture stream of one packet and its writer would keep as a video
// track: written as an attachment again, the picture its data.
bool is_attached_picture(const AVStream& in, const AVFormatContext& output)
{
    return (in.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0 && std::string(output.oformat->name) == "matroska";
}

void attach_picture(const AVStream& in, AVStream& out)
{
    AVCodecParameters& codec = *out.codecpar;
    codec.codec_type = AVMEDIA_TYPE_ATTACHMENT;
    codec.codec_id = in.codecpar->codec_id;
    const auto size = static_cast<std::size_t>(in.attached_pic.size);
    codec.extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (codec.extradata == nullptr) {
        throw std::bad_alloc();
    }
    std::copy_n(in.attached_pic.data, size, codec.extradata);
    codec.extradata_size = in.attached_pic.size;
    av_dict_copy(&out.metadata, in.metadata, 0);
    // A cover from an MP4 has no name, which an attachment needs.
    if (av_dict_get(in.metadata, "filename", nullptr, 0) == nullptr) {
        const std::string name
            = std::string("cover.") + (codec.codec_id == AV_CODEC_ID_MJPEG ? "jpg" : avcodec_get_name(codec.codec_id));
        av_dict_set(&out.metadata, "filename", name.c_str(), 0);
    }
}

void copy_chapters(const AVFormatContext& in, AVFormatContext& out)
{
    if (in.nb_chapters == 0) {
        return;
    }
    out.chapters = static_cast<AVChapter**>(av_calloc(in.nb_chapters, sizeof(AVChapter*)));
    if (out.chapters == nullptr) {
        throw std::bad_alloc();
    }
    for (unsigned i = 0; i < in.nb_chapters; ++i) {
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (chapter == nullptr) {
            throw std::bad_alloc();
        }
        const AVChapter& from = *in.chapters[i];
        chapter->id = from.id;
        chapter->time_base = from.time_base;
        chapter->start = from.start;
        chapter->end = from.end;
        av_dict_copy(&chapter->metadata, from.metadata, 0);
        out.chapters[out.nb_chapters++] = chapter;
    }
}

// The bytes of the output's packets per stream, read back from the flushed
// file: bytes, not packets, since a demuxer may cut PCM in other packets.
std::vector<int64_t> bytes_read_back(const std::string& path, const std::string& name)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, ("file:" + path).c_str(), nullptr, nullptr) < 0) {
        throw write_failed("cannot write '" + name + "': what was written does not read back");
    }
    std::vector<int64_t> bytes(context->nb_streams, 0);
    const Packet packet = make_packet();
    while (av_read_frame(context, packet.get()) >= 0) {
        // FLV and MPEG-PS readers find their streams as their packets come.
        const auto index = static_cast<std::size_t>(packet->stream_index);
        bytes.resize(std::max(bytes.size(), index + 1), 0);
        bytes[index] += packet->size;
        av_packet_unref(packet.get());
    }
    avformat_close_input(&context);
    return bytes;
}

} // namespace

MediaTotals mask_media(MediaInput& input, std::vector<MaskedStream> streams, int64_t block, TempFile& temp,
                       const MediaOutput& chosen, const std::string& output_name, bool show_progress,
                       const CueEdits& cue_edits)
{
    const AVFormatContext& in = *input.context();
    const auto fail
        = [&](int code) { return write_failed("cannot write '" + output_name + "': " + media_error(code)); };
    AVFormatContext* allocated = nullptr;
    if (avformat_alloc_output_context2(&allocated, chosen.container, nullptr, nullptr) < 0) {
        throw std::bad_alloc();
    }
    const Output output(allocated);
    std::vector<std::unique_ptr<StreamMask>> masks(in.nb_streams);
    std::vector<PacketText> texts(in.nb_streams);
    for (unsigned i = 0; i < in.nb_streams; ++i) {
        const AVStream& from = *in.streams[i];
        texts[i] = cue_edits ? packet_text(from) : PacketText::none;
        AVStream* to = avformat_new_stream(output.get(), nullptr);
        if (to == nullptr) {
            throw std::bad_alloc();
        }
        const auto masked = std::find_if(streams.begin(), streams.end(),
                                         [&](const MaskedStream& s) { return s.index == static_cast<int>(i); });
        if (masked != streams.end()) {
            masks[i] = std::make_unique<StreamMask>(input, masked->index, *output, *to, std::move(masked->plan),
                                                    std::move(masked->tone), std::move(masked->channels), block,
                                                    chosen.audio);
        } else if (is_attached_picture(from, *output)) {
            attach_picture(from, *to);
            continue;
        } else {
            copy_stream(from, *to, *output);
        }
        av_dict_copy(&to->metadata, from.metadata, 0);
        to->disposition = from.disposition;
    }
    av_dict_copy(&output->metadata, in.metadata, 0);
    copy_chapters(in, *output);

    // Written by name: the file is the temporary one, already made and locked.
    int status = avio_open(&output->pb, ("file:" + temp.path()).c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        throw fail(status);
    }
    output->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    status = avformat_write_header(output.get(), nullptr);
    if (status < 0) {
        throw bad_input("cannot write '" + output_name + "' as " + output->oformat->name
                        + " with the input's streams: " + media_error(status));
    }
    std::vector<int64_t> written(in.nb_streams, 0);
    for (unsigned i = 0; i < in.nb_streams; ++i) {
        // Read back, an attachment is a picture again.
        written[i] = output->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT
            ? output->streams[i]->codecpar->extradata_size
            : 0;
    }
    const StreamMask::Writer write = [&](AVPacket* packet) {
        written[static_cast<std::size_t>(packet->stream_index)] += packet->size;
        const int put = av_interleaved_write_frame(output.get(), packet);
        if (put < 0) {
            throw fail(put);
        }
    };
    const int first = streams.front().index;
    Progress progress(show_progress, input.frames_of(first), "writing");
    const Packet packet = make_packet();
    while (input.read(packet.get())) {
        const auto index = static_cast<std::size_t>(packet->stream_index);
        if (index >= masks.size()) {
            throw bad_input("input '" + input.path() + "' holds a stream that shows only after its start: stream "
                            + std::to_string(index) + "; convert it with ffmpeg -i " + input.path() + " -c copy "
                            + input.path() + ".mkv");
        }
        if (output->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
            // Written with the header.
        } else if (masks[index]) {
            masks[index]->send(packet.get(), write);
            progress.update(masks[static_cast<std::size_t>(first)]->frames());
        } else {
            const bool text = texts[index] != PacketText::none && texts[index] != PacketText::bitmap;
            if (text && packet->pts != AV_NOPTS_VALUE) {
                const double unit = av_q2d(in.streams[index]->time_base);
                const double start
                    = static_cast<double>(packet->pts) * unit - static_cast<double>(input.zero()) / AV_TIME_BASE;
                const double end = start + static_cast<double>(std::max<int64_t>(packet->duration, 0)) * unit;
                clean_subtitle_packet(*packet, texts[index], start, end, cue_edits);
            }
            av_packet_rescale_ts(packet.get(), in.streams[index]->time_base, output->streams[index]->time_base);
            packet->pos = -1;
            write(packet.get());
        }
        av_packet_unref(packet.get());
    }
    for (const std::unique_ptr<StreamMask>& mask : masks) {
        if (mask) {
            mask->send(nullptr, write);
        }
    }
    status = av_write_trailer(output.get());
    if (status < 0 || (status = avio_closep(&output->pb)) < 0) {
        throw fail(status);
    }
    // Some write errors only show at the flush; then what was written must read back whole.
    flush_output(temp.fd(), output_name);
    const std::vector<int64_t> read_back = bytes_read_back(temp.path(), output_name);
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (i >= read_back.size() || read_back[i] != written[i]) {
            throw write_failed("cannot write '" + output_name + "': stream " + std::to_string(i) + " reads back with "
                               + std::to_string(i < read_back.size() ? read_back[i] : 0) + " of its "
                               + std::to_string(written[i]) + " bytes");
        }
    }
    const StreamMask& counted = *masks[static_cast<std::size_t>(first)];
    progress.update(counted.frames());
    MediaTotals totals{counted.frames(), counted.masked(), ""};
    for (const std::unique_ptr<StreamMask>& mask : masks) {
        const std::string gaps = mask ? mask->gap_warning() : "";
        totals.warning += (totals.warning.empty() || gaps.empty() ? "" : "; ") + gaps;
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == PacketText::bitmap) {
            const std::string kept = "subtitle stream " + std::to_string(i) + " ("
                + avcodec_get_name(in.streams[i]->codecpar->codec_id)
                + ") is drawn as pictures and copied as it is: its pictures may still show the words found";
            totals.warning += (totals.warning.empty() ? "" : "; ") + kept;
        }
    }
    return totals;
}

} // namespace zendrik_mask
