// SPDX-License-Identifier: ISC
#include "output_choice.h"

#include "errors.h"
#include "text.h"

extern "C" {
#include <libavutil/avstring.h>
}

#include <algorithm>

namespace zendrik_mask {

namespace {

struct LosslessCodec {
    const char* name;
    AVCodecID id;
};

// Little-endian PCM: Matroska holds no other, MOV marks it.
const LosslessCodec CODECS[]
    = {{"flac", AV_CODEC_ID_FLAC},       {"alac", AV_CODEC_ID_ALAC},       {"pcm16", AV_CODEC_ID_PCM_S16LE},
       {"pcm24", AV_CODEC_ID_PCM_S24LE}, {"pcm32", AV_CODEC_ID_PCM_S32LE}, {"float", AV_CODEC_ID_PCM_F32LE}};

AVCodecID codec_named(const std::string& name)
{
    for (const LosslessCodec& codec : CODECS) {
        if (name == codec.name) {
            return codec.id;
        }
    }
    return AV_CODEC_ID_NONE;
}

std::string codec_names()
{
    std::string names;
    for (const LosslessCodec& codec : CODECS) {
        names += (names.empty() ? "" : ", ") + std::string(codec.name);
    }
    return names;
}

// The output's name says its container; a name that does not (an unknown
// extension) leaves it to --format, else to the input's.
const AVOutputFormat* named_container(const std::string& name)
{
    return name.empty() ? nullptr : av_guess_format(nullptr, ("x." + name).c_str(), nullptr);
}

const AVOutputFormat* input_container(const MediaInput& input)
{
    const AVOutputFormat* format = av_guess_format(nullptr, input.path().c_str(), nullptr);
    if (format == nullptr) {
        const std::string names = input.context()->iformat->name;
        format = av_guess_format(names.substr(0, names.find(',')).c_str(), nullptr, nullptr);
    }
    return format;
}

// Asks the muxer itself, on a stream like the one it will get, whether it
// takes the codec: its own rules (a tag for the codec, FLAC only in MP4 and
// there experimental in some versions) stay its own.
int muxer_takes(const AVOutputFormat& container, AVCodecID codec, const AVCodecParameters& like)
{
    AVFormatContext* probe = nullptr;
    if (avformat_alloc_output_context2(&probe, &container, nullptr, nullptr) < 0) {
        throw std::bad_alloc();
    }
    AVStream* stream = avformat_new_stream(probe, nullptr);
    int status = stream != nullptr ? avio_open_dyn_buf(&probe->pb) : AVERROR(ENOMEM);
    if (status >= 0) {
        stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        stream->codecpar->codec_id = codec;
        stream->codecpar->sample_rate = like.sample_rate;
        av_channel_layout_copy(&stream->codecpar->ch_layout, &like.ch_layout);
        stream->time_base = AVRational{1, like.sample_rate};
        status = avformat_init_output(probe, nullptr);
        uint8_t* bytes = nullptr;
        avio_close_dyn_buf(probe->pb, &bytes);
        av_free(bytes);
        probe->pb = nullptr;
    }
    avformat_free_context(probe);
    return status;
}

} // namespace

MediaOutput choose_media_output(const MediaInput& input, const std::vector<int>& streams,
                                const std::string& output_name, const std::string& request)
{
    const std::size_t colon = request.find(':');
    std::string container_part = lower_case(request.substr(0, colon));
    std::string codec_part = colon == std::string::npos ? "" : lower_case(request.substr(colon + 1));
    // "--format flac" names the codec: the container stays the output's.
    if (colon == std::string::npos && codec_named(container_part) != AV_CODEC_ID_NONE) {
        std::swap(container_part, codec_part);
    }
    const AVOutputFormat* by_name = av_guess_format(nullptr, output_name.c_str(), nullptr);
    const AVOutputFormat* asked = named_container(container_part);
    if (!container_part.empty() && asked == nullptr) {
        throw bad_input("unknown --format container '" + container_part + "' for '" + output_name
                        + "' (one of mkv, mov, mp4, m4a, or a codec: " + codec_names() + ")");
    }
    if (by_name != nullptr && asked != nullptr && by_name != asked) {
        throw bad_input("--format " + request + " names the " + asked->name + " container, but '" + output_name
                        + "' is written as " + by_name->name + " by its name; name it ." + container_part);
    }
    MediaOutput output;
    output.container = by_name != nullptr ? by_name : asked != nullptr ? asked : input_container(input);
    if (output.container == nullptr) {
        throw bad_input("cannot write '" + output_name + "': no container for it; name it .mp4, .m4a, .mov or .mkv");
    }
    if (request.empty()) {
        return output;
    }
    if (codec_part.empty()) {
        // Apple's containers are ALAC's home; FLAC is Matroska's.
        output.audio = av_match_name(output.container->name, "mov,mp4,ipod") != 0 ? AV_CODEC_ID_ALAC : AV_CODEC_ID_FLAC;
    } else if ((output.audio = codec_named(codec_part)) == AV_CODEC_ID_NONE) {
        throw bad_input("--format " + request + ": the sound of '" + input.path()
                        + "' is written again with its own codec or a lossless one (" + codec_names() + "), not '"
                        + codec_part + "'");
    }
    for (const int index : streams) {
        const int status = muxer_takes(*output.container, output.audio, *input.context()->streams[index]->codecpar);
        if (status < 0) {
            throw bad_input("--format " + request + ": " + output.container->name + " cannot hold "
                            + avcodec_get_name(output.audio) + " audio: " + media_error(status));
        }
    }
    return output;
}

} // namespace zendrik_mask
