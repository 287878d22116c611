// SPDX-License-Identifier: ISC
// zendrik-mask: bleeps time ranges of audio files through the zendrik LV2
// plugin, exact to the sample.
#include "batch_command.h"
#include "command_line.h"
#include "errors.h"
#include "formats.h"
#include "job.h"
#include "plugin_settings.h"
#include "transcript.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#ifndef ZENDRIK_MASK_VERSION
#define ZENDRIK_MASK_VERSION "unknown"
#endif

namespace {

const char* const DESCRIPTION
    = "Bleeps time ranges of an audio file: inside each range the zendrik LV2 plugin\n"
      "replaces the sound with its tone, starting at a zero sample; outside, every\n"
      "sample comes out exactly as it went in.";

std::string footer()
{
    return "Times: seconds (12.5) or [h:]m:s[.fff] (1:02:03.25). A range START-END covers\n"
           "the samples from round(START x rate) up to but not including round(END x rate),\n"
           "rounding to the nearest sample, halves up. Overlapping and touching ranges are\n"
           "merged; ranges reaching past the end are clipped with a warning.\n"
           "\n"
           "Label files: Audacity's format, one label per line: start, end and text separated\n"
           "by tabs. Point labels (start = end) are errors.\n"
           "\n"
           "The output keeps the input's container, encoding, rate and channels unless\n"
           "its extension (.flac, .wav, ...) or --format says otherwise, e.g. --format flac,\n"
           "--format wav:float, --format :pcm16; --format wins over the extension.\n"
           "Containers: " +
           zendrik_mask::container_names(" ") + ".\nEncodings: " + zendrik_mask::encoding_names(" ") +
           ".\n"
           "Lossy and block-coded outputs (MP3, Vorbis, Opus, ADPCM, GSM...) are encoded again\n"
           "whole, with a warning; MP3 keeps an MP3 input's bit rate, else 128 kbps.\n"
           "\n"
           "The plugin is looked up by its URI in LV2_PATH, or in the standard LV2 folders\n"
           "when LV2_PATH is unset.\n"
           "\n"
           "Words: --word and --words find words and phrases and bleep them, each widened\n"
           "by --pad. Matching ignores case and the punctuation around words; a trailing *\n"
           "matches any ending (damn*). A word file holds one word or phrase a line, UTF-8;\n"
           "# starts a comment; a line may end in sensitivity=0.7 to override --sensitivity.\n"
           "Without --transcript, PocketSphinx (US English unless --model) decodes the speech\n"
           "offline with its language model and finds the words in what it heard; a word\n"
           "heard where the sound does not rise above the file's noise floor is dropped.\n"
           "--sensitivity runs from 0 (words heard as English alone has them, kept when\n"
           "sure) to 1 (listed words made far likelier, kept however unsure).\n"
           "A word in no dictionary is said as eSpeak NG guesses, with a warning showing\n"
           "the guess; --dict FILE (CMU format) gives your own, used before any other.\n"
           "--words profanity is a shipped list; measured figures: docs/performance.md.\n"
           "Transcripts (--transcript): " +
           zendrik_mask::transcript_format_names(", ") +
           ", told apart by their content, or plain text without times (.txt). Subtitle cues\n"
           "holding a listed word are aligned to the sound and each word bleeped over its own\n"
           "times; a cue that does not fit is bleeped whole, with a warning. --subtitles reads\n"
           "the input's own text subtitle stream; --listen bleeps what the recogniser hears too.\n"
           "A video's text subtitle streams are written again with the words found masked\n"
           "(--subtitle-mask); --write-subtitles writes the subtitles read, cleaned, beside it.\n"
           "--write-labels writes every range as Audacity labels; edit them and run again\n"
           "with --labels. --write-edl writes them as an edit decision list that players\n"
           "mute while playing. --review writes a page to hear each find and near miss in a\n"
           "browser, keep or drop it, and export the kept ranges as labels. --dry-run finds\n"
           "and writes these files, but no audio. --except and --except-labels keep finds\n"
           "in ranges a review dropped from being bleeped again.\n"
           "\n"
           "Video and files libsndfile cannot read (MP4, M4A, MOV, MKV, WebM) go through\n"
           "FFmpeg's libraries: every stream but the masked audio is copied as it is; the\n"
           "masked audio is encoded again with its codec, rate, channels and bit rate\n"
           "(lossless codecs stay exact outside the ranges). Times count from the first\n"
           "picture or sound shown, as a player shows them.\n"
           "\n"
           "Many files: zendrik-mask batch IN_DIR OUT_DIR [OPTIONS] (see batch --help), and\n"
           "zendrik-mask summary OUT_DIR.\n"
           "\n"
           "Exit status: 0 done, 2 bad input (nothing written), 1 the output could not be\n"
           "written (nothing left behind; an existing output file is untouched).";
}

} // namespace

int main(int argc, char** argv)
{
    using namespace zendrik_mask;
    if (argc > 1 && std::string(argv[1]) == "batch") {
        return run_batch_command(argc - 1, argv + 1);
    }
    if (argc > 1 && std::string(argv[1]) == "summary") {
        return run_summary_command(argc - 1, argv + 1);
    }
    Options options;
    ParsedOptions parsed;
    bool list_requested = false;

    CLI::App app(DESCRIPTION, "zendrik-mask");
    app.footer(footer());
    app.set_version_flag("--version", "zendrik-mask " ZENDRIK_MASK_VERSION);
    app.get_formatter()->column_width(26);
    app.add_option("input", options.input, "Audio file to read");
    app.add_option("output", options.output, "Audio file to write (replaced only when all went well)");
    add_mask_options(app, options, parsed);
    app.add_flag("--list-presets", list_requested, "List the bundle's presets and exit");
    app.add_option("--transcript", options.transcript, "Take word times from this transcript, not the recogniser")
        ->type_name("FILE");
    std::string subtitles;
    // After the input and output, or as --subtitles=N: a value may follow.
    auto* subtitles_option = app.add_option("--subtitles", subtitles,
                                            "Take the words from the input's text subtitle stream (default: the "
                                            "default one), aligned to the sound")
                                 ->type_name("[N|LANG]")
                                 ->expected(0, 1);
    app.add_flag("--listen", options.listen,
                 "With --transcript or --subtitles: bleep what the recogniser hears as well");
    options.jobs = std::max(1u, std::thread::hardware_concurrency());
    auto* jobs_option = app.add_option("-j,--jobs", options.jobs, "Recogniser threads (default: the number of cores)")
                            ->type_name("N");
    // Named in the order of --help's recogniser options.
    parsed.recogniser_options.insert(parsed.recogniser_options.begin() + 1, jobs_option);
    app.add_option("--write-labels", options.labels_out, "Write every range to bleep as Audacity labels")
        ->type_name("FILE");
    app.add_option("--write-edl", options.edl_out, "Write every range as an edit decision list (MPlayer, Kodi)")
        ->type_name("FILE");
    app.add_option("--write-subtitles", options.subtitles_out,
                   "Write the subtitles of --transcript or --subtitles with the words found masked, in their format")
        ->type_name("FILE");
    app.add_option("--report", options.report_file, "Write the words found as JSON")->type_name("FILE");
    app.add_option("--review", options.review_page,
                   "Write a page to review every find in a browser, keep or drop each, and export labels")
        ->type_name("FILE.html");
    app.add_flag("--dry-run", options.dry_run, "Find the words and write labels and report, but no audio");

    if (const std::optional<int> status = parse_command_line(app, argc, argv)) {
        return *status;
    }
    if (*subtitles_option) {
        // A file name taken for the stream: the value is optional, so it took the next word.
        if (subtitles.find_first_of("./") != std::string::npos) {
            return report(bad_input("--subtitles takes a stream index or a language, not '" + subtitles
                                    + "': give it after the input and output, or as --subtitles=N"));
        }
        options.subtitles = subtitles;
    }
    try {
        finish_options(options, parsed);
    } catch (const Error& e) {
        return report(e);
    }
    if (list_requested) {
        return list_presets();
    }
    if (options.input.empty() || (options.output.empty() && !options.dry_run)) {
        return report(bad_input("give an input and an output file (see --help)"));
    }
    if (!has_masks(options)) {
        return report(bad_input("nothing to mask: give --mask, --labels, --word or --words (see --help)"));
    }
    return run_job(options);
}
