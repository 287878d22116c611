// SPDX-License-Identifier: ISC
#include "job.h"

#include "audio_file.h"
#include "cleaned_subtitles.h"
#include "errors.h"
#include "except_ranges.h"
#include "host.h"
#include "media_job.h"
#include "output_target.h"
#include "output_writer.h"
#include "ranges.h"
#include "review.h"
#include "temp_file.h"
#include "text_input.h"
#include "word_search.h"

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

FileOutcome process(const Options& options)
{
    if (options.block < 1 || options.block > (1 << 20)) {
        throw bad_input("--block must be 1 to 1048576 frames");
    }
    check_word_options(options);
    check_subtitle_options(options);
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
    // What FFmpeg decodes has no samples to copy in place.
    const bool media = input.decoded() != nullptr;
    // Also refuses PCM whose header promises more samples than the file holds.
    const std::optional<SampleData> samples = media ? std::nullopt : locate_samples(input, options.input);
    const int64_t frames = samples ? samples->frames() : input.frames();
    const double seconds = frames >= 0 ? static_cast<double>(frames) / input_info.samplerate : -1.0;
    check_some_range_inside(targets.given_ranges, input_info.samplerate, frames, options.input);

    // The output and the plugin are checked before the words are searched
    // for, which can take a while.
    std::unique_ptr<OutputWriter> writer;
    if (!options.dry_run) {
        writer = choose_output_writer(options, input, samples, frames, warnings);
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
    TempFile temp(target, output_mode);
    const bool show_progress = !options.quiet && isatty(STDERR_FILENO);
    // The words found are masked in the video's text subtitles too.
    const SubtitleMasker subtitle_masker(targets.words.patterns, targets.findings.found, targets.words.censored,
                                         parse_subtitle_mask(options.subtitle_mask));
    // With --per-stream-finds, each audio stream of a video is bleeped for its own finds.
    const MaskTargets masked{
        plan, [&](int stream) { return options.per_stream_finds ? own_ranges(targets, stream) : time_ranges; },
        subtitle_edits(subtitle_masker)};
    const Written totals = writer->write(masked, temp, show_progress);
    commit(options, {{&temp, target, options.output}}, review_files, review, totals.warning);

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
