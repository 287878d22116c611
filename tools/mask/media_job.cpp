// SPDX-License-Identifier: ISC
#include "media_job.h"

#include "audio_codec.h"
#include "auto_level.h"
#include "channel_pick.h"
#include "errors.h"
#include "host.h"
#include "media_audio.h"
#include "media_input.h"
#include "media_mask.h"
#include "plugin_settings.h"
#include "subtitle_clean.h"
#include "subtitle_stream.h"

namespace zendrik_mask {

struct MediaSetup {
    std::unique_ptr<MediaInput> input;
    std::vector<int> streams;
    MediaOutput output;
    std::vector<std::unique_ptr<Lv2Host>> hosts;
    std::vector<std::vector<bool>> channels; // of each stream, those the tone goes to
};

void MediaSetupDeleter::operator()(MediaSetup* setup) const
{
    delete setup;
}

MediaSetupPtr set_up_media(const Options& options, std::vector<std::string>& warnings)
{
    if (options.bitrate != 0) {
        throw bad_input("--bitrate does not apply to '" + options.input + "': its audio keeps its own bit rate");
    }
    MediaSetupPtr owned(new MediaSetup);
    MediaSetup& setup = *owned;
    setup.input = std::make_unique<MediaInput>(options.input);
    setup.streams = masked_streams(*setup.input, options.streams);
    setup.output = choose_media_output(*setup.input, setup.streams, options.output, options.format);
    for (const int index : setup.streams) {
        const AVStream& stream = *setup.input->context()->streams[index];
        warnings.push_back(reencoding_warning(stream, index, setup.output.audio));
        const AVCodecParameters& codec = *stream.codecpar;
        const AVChannelLayout& layout = codec.ch_layout;
        std::vector<bool> channels = picked_channels(layout, options.channels, index, options.input);
        auto host = std::make_unique<Lv2Host>(ZENDRIK_MASK_URI, fallback_lv2_dir());
        configure_plugin(*host, options);
        if (options.level_below) {
            std::vector<Speaker> speakers;
            for (int c = 0; c < layout.nb_channels; ++c) {
                speakers.push_back(!channels[static_cast<std::size_t>(c)] || is_lfe_channel(layout, c) ? Speaker::unused
                                       : is_surround_channel(layout, c) ? Speaker::surround
                                                                        : Speaker::front);
            }
            InputFile sound(options.input, media_audio_fallback({std::to_string(index)}));
            set_automatic_level(*host, options, sound, speakers, "audio stream " + std::to_string(index), warnings);
        }
        setup.channels.push_back(std::move(channels));
        host->instantiate(codec.sample_rate, static_cast<unsigned>(codec.ch_layout.nb_channels));
        warnings.push_back(nyquist_warning(tone_frequency(*host, options), codec.sample_rate, options.input));
        setup.hosts.push_back(std::move(host));
    }
    return owned;
}

MediaWritten write_media(MediaSetup& setup, const Options& options, const StreamRanges& ranges,
                         const SubtitleEdits& subtitles, TempFile& temp, bool show_progress)
{
    std::vector<MaskedStream> streams;
    for (std::size_t i = 0; i < setup.streams.size(); ++i) {
        const int index = setup.streams[i];
        const int rate = setup.input->context()->streams[index]->codecpar->sample_rate;
        // Each stream at its own rate; the first one's plan gave the warnings.
        streams.push_back(
            {index, plan_ranges(ranges(index), rate, -1), tone_of(*setup.hosts[i], options.block), setup.channels[i]});
    }
    const MediaTotals totals = mask_media(*setup.input, std::move(streams), options.block, temp, setup.output,
                                          options.output, show_progress, subtitles);
    return {totals.frames, totals.masked, totals.warning};
}

AudioFallback media_audio_fallback(const std::vector<std::string>& picks)
{
    return [picks](const std::string& path, SF_INFO& info, const std::string& why) {
        return open_media_audio(path, picks, info, why);
    };
}

std::vector<int> masked_media_streams(const std::string& path, const std::vector<std::string>& picks)
{
    return masked_streams(MediaInput(path), picks);
}

InputSubtitles read_input_subtitles(const std::string& path, const std::string& pick,
                                    const std::function<void(double start, double end, const std::string& text)>& cue)
{
    const SubtitleStream stream = choose_subtitle_stream(path, pick);
    read_subtitle_cues(path, stream, [&](SubtitleCue&& read) { cue(read.start, read.end, read.text); });
    return {stream.index, stream.language};
}

std::string cleaned_input_subtitles(const std::string& path, const std::string& pick, const SubtitleEdits& edits)
{
    return cleaned_subtitle_file(path, choose_subtitle_stream(path, pick).index, edits);
}

int audio_stream_in_language(const std::string& path, const std::string& language)
{
    return audio_stream_for(path, language);
}

} // namespace zendrik_mask
