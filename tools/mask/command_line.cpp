// SPDX-License-Identifier: ISC
#include "command_line.h"

#include "errors.h"
#include "plugin_settings.h"
#include "transcript.h"

namespace zendrik_mask {

void add_mask_options(CLI::App& app, Options& options, ParsedOptions& parsed)
{
    app.add_option("-m,--mask", options.masks, "Range to bleep, START-END; repeatable")
        ->type_name("START-END")
        ->allow_extra_args(false);
    app.add_option("-l,--labels", options.label_files, "Audacity label file of ranges to bleep; repeatable")
        ->type_name("FILE")
        ->allow_extra_args(false);
    // Set or not is what matters: the plugin's own default applies otherwise.
    parsed.frequency_option
        = app.add_option("-f,--frequency", parsed.frequency, "Tone frequency in Hz (default: the plugin's, 1000)")
              ->type_name("HZ");
    parsed.level_option
        = app.add_option("-L,--level", parsed.level,
                         "Tone peak level, linear 0 to 1, in decibels (-6dB), or auto: --level-below LU under the "
                         "sound's loudness (default: the plugin's, 0.5)")
              ->type_name("GAIN|auto");
    parsed.level_below_option
        = app.add_option("--level-below", parsed.level_below,
                         "With --level auto: LU under the loudness of the channels bleeped, 0 to 60 (default 6)")
              ->type_name("LU");
    app.add_option("-p,--preset", options.preset,
                   "Start from one of the bundle's presets; --frequency and --level override it")
        ->type_name("NAME");
    app.add_option("--format", options.format, "Output container and/or encoding: CONTAINER[:ENCODING] or :ENCODING")
        ->type_name("FORMAT");
    app.add_option("--bitrate", options.bitrate,
                   "MP3 output bit rate in kbps, constant (default: the input MP3's, or 128)")
        ->type_name("KBPS");
    app.add_option("-b,--block", options.block,
                   "Frames per block (default 1024); blocks are also cut at every range edge")
        ->type_name("FRAMES");
    app.add_flag("-q,--quiet", options.quiet, "Print nothing but errors");
    app.add_flag("--force", options.force, "Replace the output even when it is write-protected");
    app.add_option("-w,--word", options.words, "Word or phrase to find and bleep; repeatable")
        ->type_name("TEXT")
        ->allow_extra_args(false);
    app.add_option("--words", options.word_files,
                   "File of words and phrases to find, one a line, or a shipped list: profanity; repeatable")
        ->type_name("FILE")
        ->allow_extra_args(false);
    app.add_option("--except", options.excepts, "Range where finds are not bleeped, START-END; repeatable")
        ->type_name("START-END")
        ->allow_extra_args(false);
    app.add_option("--except-labels", options.except_label_files,
                   "Audacity label file of ranges where finds are not bleeped (those a review dropped); repeatable")
        ->type_name("FILE")
        ->allow_extra_args(false);
    app.add_option("--pad", options.pad, "Seconds added before and after each word found, 0 to 60 (default 0.05)")
        ->type_name("SECONDS");
    app.add_option("--transcript-format", options.transcript_format,
                   "Transcript format when its content does not tell: " + transcript_format_names(", "))
        ->type_name("NAME");
    parsed.recogniser_options.push_back(
        app.add_option("--sensitivity", options.sensitivity, "Recogniser: 0 strict to 1 eager (default 0.5)")
            ->type_name("S"));
    parsed.recogniser_options.push_back(
        app.add_option("--dict", options.dict_files, "Recogniser: pronunciations to add, CMU format; repeatable")
            ->type_name("FILE")
            ->allow_extra_args(false));
    parsed.recogniser_options.push_back(
        app.add_option("--model", options.model_dir, "Recogniser: PocketSphinx acoustic model folder")
            ->type_name("DIR"));
    parsed.recogniser_options.push_back(
        app.add_option("--adaptation", options.adaptation,
                       "Recogniser: an MLLR transform of the model for one voice and room, from sphinxtrain's "
                       "mllr_solve (docs/zendrik-mask.md)")
            ->type_name("FILE"));
    app.add_option("--stream", options.streams,
                   "Video and AAC files: the audio stream to mask, by index or language (default: every one); "
                   "repeatable")
        ->type_name("N|LANG")
        ->allow_extra_args(false);
    app.add_option("--channels", options.channels,
                   "Video: bleep only these channels, by FFmpeg's names (FC,LFE) or centre, the dialogue's in 5.1 "
                   "and 7.1 (default: all)")
        ->type_name("centre|NAMES");
    app.add_option("--subtitle-mask", options.subtitle_mask,
                   "Video: what a found word becomes in the text subtitles: TEXT, or initial for d*** (default ****)")
        ->type_name("TEXT|initial");
    app.add_flag("--per-stream-finds", options.per_stream_finds,
                 "Video with several audio streams: bleep each for the words found in it only (default: every find "
                 "bleeps every masked stream)");
}

void finish_options(Options& options, const ParsedOptions& parsed)
{
    if (*parsed.frequency_option) {
        options.frequency = parsed.frequency;
    }
    const bool automatic = *parsed.level_option && (parsed.level == "auto" || parsed.level == "AUTO");
    if (automatic) {
        if (!(parsed.level_below >= 0 && parsed.level_below <= 60)) {
            throw bad_input("--level-below must be 0 to 60 LU");
        }
        options.level_below = parsed.level_below;
    } else if (*parsed.level_option) {
        options.level = parse_level(parsed.level);
    }
    if (*parsed.level_below_option && !automatic) {
        throw bad_input("--level-below applies to --level auto only");
    }
    for (const CLI::Option* option : parsed.recogniser_options) {
        if (*option) {
            options.recogniser_options.push_back(option->get_name());
        }
    }
}

bool has_masks(const Options& options)
{
    return !options.masks.empty() || !options.label_files.empty() || !options.words.empty()
        || !options.word_files.empty();
}

std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return report(bad_input(std::string(e.what()) + " (see --help)"));
    }
    return std::nullopt;
}

} // namespace zendrik_mask
