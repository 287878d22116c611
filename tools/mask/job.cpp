// SPDX-License-Identifier: ISC
#include "job.h"

#include "audio_file.h"
#include "auto_level.h"
#include "copy_path.h"
#include "errors.h"
#include "except_ranges.h"
#include "formats.h"
#include "host.h"
#include "lossy.h"
#include "media_job.h"
#include "metadata.h"
#include "output_check.h"
#include "output_target.h"
#include "plugin_settings.h"
#include "progress.h"
#include "ranges.h"
#include "review.h"
#include "tag_check.h"
#include "temp_file.h"
#include "text_input.h"
#include "wav_size.h"
#include "word_search.h"

#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zendrik_mask {

namespace {

std::vector<TimeRange> read_ranges(const Options& options, std::vector<std::string>& warnings)
{
    std::vector<TimeRange> ranges;
    for (const std::string& mask : options.masks) {
        ranges.push_back(parse_range(mask));
        ranges.back().origin = "--mask " + mask;
    }
    for (const std::string& path : options.label_files) {
        TextInput in(path, "label file", LABEL_FILE_LIMITS);
        std::vector<TimeRange> labels = parse_labels(in, path);
        if (labels.empty()) {
            warnings.push_back("label file '" + path + "' holds no labels; nothing masked from it");
        }
        for (TimeRange& range : labels) {
            ranges.push_back(std::move(range));
        }
    }
    return ranges;
}

// The output must not be a folder (ReviewFiles checks it is no input).
// Returns the permissions the output gets: those of the file it replaces, or
// a new file's.
mode_t check_output(const std::string& output)
{
    struct stat output_status {};
    const bool exists = stat(output.c_str(), &output_status) == 0;
    if (exists && S_ISDIR(output_status.st_mode)) {
        throw bad_input("output '" + output + "' is a folder");
    }
    if (exists) {
        return output_status.st_mode & 07777;
    }
    return new_file_mode();
}

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

struct Totals {
    int64_t frames = 0; // written
    int64_t masked = 0; // of those, frames with the tone on
};

// The plugin runs over every frame, its blocks cut at range edges.
Totals run_blocks(const Plan& plan, Lv2Host& host, InputFile& input, FrameBuffer& buffer, OutputFile& output,
                  bool show_progress)
{
    const auto channel_count = static_cast<unsigned>(input.info().channels);
    Schedule schedule(plan.ranges);
    Progress progress(show_progress, input.frames(), "writing");
    Totals totals;
    while (const std::size_t read = buffer.read(input)) {
        std::size_t offset = 0;
        while (offset < read) {
            const Schedule::Block block
                = schedule.next(totals.frames + static_cast<int64_t>(offset), static_cast<int64_t>(read - offset));
            const auto length = static_cast<std::size_t>(block.length);
            host.set_enable(block.on);
            for (unsigned c = 0; c < channel_count; ++c) {
                host.run(c, buffer.plugin_input(c, offset), buffer.plugin_output(c, offset),
                         static_cast<uint32_t>(length));
            }
            // Outside the ranges, files whose samples a float cannot carry
            // whole keep their own; inside, every file takes the tone.
            if (buffer.takes_all_plugin_output() || block.on) {
                buffer.take_plugin_output(offset, length);
            }
            if (block.on) {
                totals.masked += block.length;
            }
            offset += length;
        }
        buffer.write(output, read);
        totals.frames += static_cast<int64_t>(read);
        progress.update(totals.frames);
    }
    return totals;
}

void check_word_options(const Options& options)
{
    if (!(options.pad >= 0 && options.pad <= 60)) {
        throw bad_input("--pad must be 0 to 60 seconds");
    }
    if (!(options.sensitivity >= 0 && options.sensitivity <= 1)) {
        throw bad_input("--sensitivity must be 0 to 1");
    }
    if (options.jobs < 1 || options.jobs > 256) {
        throw bad_input("--jobs must be 1 to 256");
    }
}

// The ranges to mask, with what the review shows of them.
struct Targets {
    WordRequest words;
    WordFindings findings;
    std::vector<TimeRange> word_ranges;
    std::vector<TimeRange> given_ranges;
    std::vector<TimeRange> near_ranges;
};

// With --per-stream-finds: the ranges given, and the words found in audio
// stream `stream` or in what belongs to no stream (a transcript).
std::vector<TimeRange> own_ranges(const Targets& targets, int stream)
{
    std::vector<TimeRange> ranges = targets.given_ranges;
    for (std::size_t i = 0; i < targets.findings.found.size(); ++i) {
        const int heard_in = targets.findings.found[i].stream;
        if (heard_in < 0 || heard_in == stream) {
            ranges.push_back(targets.word_ranges[i]);
        }
    }
    return ranges;
}

void print_warnings(const Options& options, const std::vector<std::string>& warnings)
{
    for (const std::string& warning : warnings) {
        if (!warning.empty()) {
            warn(options.quiet, warning);
        }
    }
}

// Every file is renamed before anything more is printed, so that a closed
// standard error cannot come between the renames.
void commit(const Options& options, std::vector<Replacement> files, ReviewFiles& review_files, const Review& review,
            const std::string& warning)
{
    for (const Replacement& file : review_files.replacements()) {
        files.push_back(file);
    }
    replace_all(files);
    print_warnings(options, {warning});
    if (!options.quiet && !review.request.patterns.empty()) {
        print_summary(review);
    }
}

// How the audio is written and what plays the tone, settled before any
// long work.
struct AudioSetup {
    SF_INFO output_info{};
    Mp3Bitrate mp3_bitrate{};
    bool copy_path = false;
    std::unique_ptr<Lv2Host> host;
};

AudioSetup set_up_audio(const Options& options, const InputFile& input, const std::optional<SampleData>& samples,
                        int64_t frames, std::vector<std::string>& warnings)
{
    const SF_INFO& input_info = input.info();
    AudioSetup audio;
    if (!options.channels.empty()) {
        throw bad_input("--channels applies to video and the files read through FFmpeg, not to '" + options.input
                        + "'; convert it with ffmpeg -i " + options.input + " -c:a flac " + options.input + ".mka");
    }
    audio.output_info = output_info_for(input_info, options, warnings);
    audio.mp3_bitrate = plan_mp3_bitrate(options.bitrate, options.input, input_info.format, audio.output_info);
    warnings.push_back(widen_large_wav(audio.output_info, frames));
    warnings.push_back(reencoding_warning(audio.output_info.format));
    audio.copy_path = takes_copy_path(samples, input, options.input, audio.output_info.format);
    audio.host = std::make_unique<Lv2Host>(ZENDRIK_MASK_URI, fallback_lv2_dir());
    configure_plugin(*audio.host, options);
    if (options.level_below) {
        InputFile sound(options.input);
        set_automatic_level(*audio.host, options, sound, default_speakers(input_info.channels), "the sound", warnings);
    }
    audio.host->instantiate(input_info.samplerate, static_cast<unsigned>(input_info.channels));
    warnings.push_back(nyquist_warning(tone_frequency(*audio.host, options), input_info.samplerate, options.input));
    return audio;
}

FileOutcome process(const Options& options)
{
    if (options.block < 1 || options.block > (1 << 20)) {
        throw bad_input("--block must be 1 to 1048576 frames");
    }
    check_word_options(options);
    std::vector<std::string> warnings;
    Targets targets;
    targets.given_ranges = read_ranges(options, warnings);
    targets.words = read_word_request(options);
    const std::vector<TimeRange> excepted = read_except_ranges(options);
    warnings.push_back(relabel_warning(options, targets.given_ranges));
    InputFile input(options.input);
    warnings.push_back(input.header_warning());
    const SF_INFO& input_info = input.info();
    mode_t output_mode = 0;
    std::string target;
    if (!options.dry_run) {
        output_mode = check_output(options.output);
        target = output_target(options.output, options.force, "output", warnings);
    }
    ReviewFiles review_files(options, target, warnings);
    // Inputs libsndfile cannot read go through FFmpeg's libraries (InputFile's fallback).
    const bool media = input.decoded() != nullptr;
    // Also refuses PCM whose header promises more samples than the file holds.
    const std::optional<SampleData> samples = media ? std::nullopt : locate_samples(input, options.input);
    const int64_t frames = samples ? samples->frames() : input.frames();
    const double seconds = frames >= 0 ? static_cast<double>(frames) / input_info.samplerate : -1.0;
    check_some_range_inside(targets.given_ranges, input_info.samplerate, frames, options.input);

    // The output and the plugin are checked before the words are searched
    // for, which can take a while.
    AudioSetup audio;
    MediaSetupPtr media_setup;
    if (!options.dry_run) {
        if (media) {
            media_setup = set_up_media(options, warnings);
        } else {
            audio = set_up_audio(options, input, samples, frames, warnings);
        }
    }

    targets.findings = find_words(targets.words, options, seconds);
    targets.word_ranges = word_ranges(targets.words, targets.findings.found, options.pad, seconds);
    targets.near_ranges = word_ranges(targets.words, targets.findings.near_misses, options.pad, seconds);
    drop_excepted(targets.findings.found, targets.word_ranges, excepted);
    drop_excepted(targets.findings.near_misses, targets.near_ranges, excepted);
    std::vector<TimeRange> time_ranges = targets.given_ranges;
    time_ranges.insert(time_ranges.end(), targets.word_ranges.begin(), targets.word_ranges.end());
    warnings.insert(warnings.end(), targets.findings.warnings.begin(), targets.findings.warnings.end());
    const Plan plan = plan_ranges(time_ranges, input_info.samplerate, frames);
    warnings.insert(warnings.end(), plan.warnings.begin(), plan.warnings.end());
    // Everything is checked: now the warnings are worth reading.
    print_warnings(options, warnings);
    // Written before the audio, committed after it: a failure in either leaves every target as it was.
    const Review review{targets.words,
                        targets.findings.found,
                        targets.word_ranges,
                        targets.given_ranges,
                        frames >= 0 ? time_of(frames, input_info.samplerate) : -1,
                        &targets.findings.near_misses,
                        &targets.near_ranges,
                        &options};
    review_files.write(review);
    FileOutcome outcome{0, {}, seconds, {}};
    for (const FoundWord& found : targets.findings.found) {
        ++outcome.words_found[targets.words.patterns[found.pattern].text];
    }
    if (options.dry_run) {
        commit(options, {}, review_files, review, "");
        return outcome;
    }
    const SF_INFO& output_info = audio.output_info;
    const Mp3Bitrate& mp3_bitrate = audio.mp3_bitrate;
    const bool copy_path = audio.copy_path;

    TempFile temp(target, output_mode);
    const bool show_progress = !options.quiet && isatty(STDERR_FILENO);
    Totals totals;
    std::string metadata_lost; // or, for video, the holes filled
    if (media) {
        // Every stream but the masked audio is copied packet for packet.
        const MediaWritten written = write_media(
            *media_setup, options,
            [&](int stream) { return options.per_stream_finds ? own_ranges(targets, stream) : time_ranges; }, temp,
            show_progress);
        totals = {written.frames, written.masked};
        metadata_lost = written.warning;
    } else if (copy_path) {
        Lv2Host& host = *audio.host;
        // Only the masked samples' bytes change: headers, chunks and tags are kept by copying them.
        const MaskedCopy copy = mask_in_copy(input, options.input, *samples, plan, tone_of(host, options.block),
                                             options.block, temp, options.output, show_progress);
        totals = {copy.frames, copy.masked};
    } else {
        OutputFile output(temp.fd(), output_info, options.output, input);
        set_mp3_bitrate(output.handle(), mp3_bitrate, output_info.samplerate);
        MetadataCopy metadata(options.input, input_info.format, output.info().format);
        metadata.before_audio(input.handle(), output.handle());
        Lv2Host& host = *audio.host;
        const std::unique_ptr<FrameBuffer> buffer
            = FrameBuffer::make(input_info.format, output.info().format, static_cast<std::size_t>(options.block),
                                static_cast<std::size_t>(input_info.channels));
        totals = run_blocks(plan, host, input, *buffer, output, show_progress);
        // Frames missing from the input would be missing from the output.
        input.check_read_whole(totals.frames);
        output.close();
        metadata.after_close(temp.path(), options.output);
        metadata_lost = metadata.warning();
        // Some of the libraries that wrote it drop their write errors: the output replaces the target only once
        // it reads back whole.
        check_decoded_length(temp.fd(), temp.path(), totals.frames, options.output);
        check_tags_read_back(temp.path(), output_info.format, options.output);
    }
    commit(options, {{&temp, target, options.output}}, review_files, review, metadata_lost);

    if (!options.quiet) {
        const int64_t rate = input_info.samplerate;
        std::fprintf(stderr, "zendrik-mask: masked %zu range%s (%s) of %s in '%s'\n", plan.ranges.size(),
                     plan.ranges.size() == 1 ? "" : "s", format_time(time_of(totals.masked, rate)).c_str(),
                     format_time(time_of(totals.frames, rate)).c_str(), printable(options.output).c_str());
    }
    return outcome;
}

FileOutcome failed(const Error& error)
{
    return {error.status(), error.message(), -1.0, {}};
}

} // namespace

void prepare_runs(const std::vector<std::string>& streams)
{
    install_signal_handlers();
    set_audio_fallback(media_audio_fallback(streams));
}

void load_plugin()
{
    // The world stays loaded for the runs that follow.
    const Lv2Host host(ZENDRIK_MASK_URI, fallback_lv2_dir());
}

FileOutcome mask_file(const Options& options)
{
    try {
        return process(options);
    } catch (const Error& e) {
        return failed(e);
    } catch (const std::bad_alloc&) {
        return failed(write_failed("out of memory"));
    } catch (const std::exception& e) {
        // Caught so that the temporary output is removed on the way out.
        return failed(write_failed(e.what()));
    }
}

int run_job(const Options& options)
{
    prepare_runs(options.streams);
    const FileOutcome outcome = mask_file(options);
    return outcome.status == 0 ? 0 : report(Error(outcome.status, outcome.message));
}

} // namespace zendrik_mask
