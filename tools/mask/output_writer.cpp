// SPDX-License-Identifier: ISC
#include "output_writer.h"

#include "auto_level.h"
#include "errors.h"
#include "formats.h"
#include "plugin_settings.h"
#include "wav_size.h"

namespace zendrik_mask {

namespace {

// The output's rate and channels are the input's; --format may change its format.
SF_INFO output_info_for(const SF_INFO& input, const Options& options, std::vector<std::string>& warnings)
{
    SF_INFO output{};
    output.samplerate = input.samplerate;
    output.channels = input.channels;
    std::string conflict;
    output.format
        = output_format(options.format, {input.format, input.samplerate, input.channels}, options.output, &conflict);
    if (!conflict.empty()) {
        warnings.push_back(conflict);
    }
    return output;
}

} // namespace

std::unique_ptr<OutputWriter> choose_output_writer(const Options& options, InputFile& input,
                                                   const std::optional<SampleData>& samples, int64_t frames,
                                                   std::vector<std::string>& warnings)
{
    // Inputs libsndfile cannot read go through FFmpeg's libraries (InputFile's fallback).
    if (input.decoded() != nullptr) {
        return make_media_writer(options, warnings);
    }
    const SF_INFO& input_info = input.info();
    if (!options.channels.empty()) {
        throw bad_input("--channels applies to video and the files read through FFmpeg, not to '" + options.input
                        + "'; convert it with ffmpeg -i " + options.input + " -c:a flac " + options.input + ".mka");
    }
    SF_INFO output_info = output_info_for(input_info, options, warnings);
    const Mp3Bitrate mp3_bitrate = plan_mp3_bitrate(options.bitrate, options.input, input_info.format, output_info);
    warnings.push_back(widen_large_wav(output_info, frames));
    warnings.push_back(reencoding_warning(output_info.format));
    const bool copy = takes_copy_path(samples, input, options.input, output_info.format);
    auto host = std::make_unique<Lv2Host>(ZENDRIK_MASK_URI, fallback_lv2_dir());
    configure_plugin(*host, options);
    if (options.level_below) {
        InputFile sound(options.input);
        set_automatic_level(*host, options, sound, default_speakers(input_info.channels), "the sound", warnings);
    }
    host->instantiate(input_info.samplerate, static_cast<unsigned>(input_info.channels));
    warnings.push_back(nyquist_warning(tone_frequency(*host, options), input_info.samplerate, options.input));
    if (copy) {
        return make_copy_writer(options, input, *samples, std::move(host));
    }
    return make_reencode_writer(options, input, output_info, mp3_bitrate, std::move(host));
}

} // namespace zendrik_mask
