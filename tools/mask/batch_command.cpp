// SPDX-License-Identifier: ISC
#include "batch_command.h"

#include "batch_reviews.h"
#include "batch_run.h"
#include "command_line.h"
#include "errors.h"
#include "file_list.h"
#include "fingerprint.h"
#include "job.h"
#include "shard.h"
#include "summary.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace zendrik_mask {

namespace {

const char* const BATCH_FOOTER
    = "Every audio and video file under IN_DIR is masked into the same relative path\n"
      "under OUT_DIR, as the single-file command masks it, with these options. Each\n"
      "file's own labels (NAME.txt) and, with --word or --words, transcript (NAME.json,\n"
      ".srt or .vtt) are taken from beside it, or from --labels-dir and\n"
      "--transcripts-dir at the same relative path. --manifest lists the files instead.\n"
      "\n"
      "Each file leaves OUTPUT.zendrik.json beside its output once it is in place; a\n"
      "rerun skips the files whose input and options are unchanged. A file that fails\n"
      "is recorded and the batch goes on. --shard K/N takes one of N stable shares of\n"
      "the files; --shard auto the share of a Slurm array task or a Kubernetes Indexed\n"
      "Job's pod (JOB_COMPLETION_INDEX of ZENDRIK_MASK_SHARDS).\n"
      "\n"
      "Exit status: 0 every file done or skipped (refusals recorded by an earlier run\n"
      "count as skipped), 1 some failed in this run or a folder could not be read (see\n"
      "zendrik-mask summary OUT_DIR), 2 bad options (nothing written).";

// What changes an output, file contents included: a change redoes the file.
std::string options_hash(const Options& options)
{
    std::string text;
    const auto add = [&text](const std::string& name, const std::string& value) { text += name + "=" + value + '\n'; };
    const auto add_files = [&](const std::string& name, const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            // A shipped list is named, not a path.
            add(name, path + ":" + (path.find('/') == std::string::npos ? "" : content_hash(path)));
        }
    };
    for (const std::string& mask : options.masks) {
        add("mask", mask);
    }
    add_files("labels", options.label_files);
    add("frequency", options.frequency ? std::to_string(*options.frequency) : "");
    add("level", options.level ? std::to_string(*options.level) : "");
    // Named only when given, so that the records of earlier runs still match.
    if (options.level_below) {
        add("level_below", std::to_string(*options.level_below));
    }
    if (!options.channels.empty()) {
        add("channels", options.channels);
    }
    if (options.per_stream_finds) {
        add("per_stream_finds", "1");
    }
    if (options.subtitle_mask != Options().subtitle_mask) {
        add("subtitle_mask", options.subtitle_mask);
    }
    add("preset", options.preset);
    add("format", options.format);
    add("bitrate", std::to_string(options.bitrate));
    add("block", std::to_string(options.block));
    for (const std::string& stream : options.streams) {
        add("stream", stream);
    }
    for (const std::string& word : options.words) {
        add("word", word);
    }
    add_files("words", options.word_files);
    add("pad", std::to_string(options.pad));
    add("transcript_format", options.transcript_format);
    add("sensitivity", std::to_string(options.sensitivity));
    add_files("dict", options.dict_files);
    add("model", options.model_dir);
    add("adaptation", options.adaptation);
    for (const std::string& range : options.excepts) {
        add("except", range);
    }
    add_files("except_labels", options.except_label_files);
    // A rerun asking for review files, or for audio after a dry run, redoes the file.
    add("dry_run", options.dry_run ? "yes" : "");
    for (const std::string* pattern :
         {&options.labels_out, &options.report_file, &options.edl_out, &options.review_page}) {
        add("review_file", *pattern);
    }
    return hex(fnv1a(text));
}

// One file through the single-file command's code.
MaskResult mask_one(const Options& shared, const BatchFile& file, const std::string& out_dir)
{
    Options options = review_files_for(shared, file, out_dir);
    options.input = file.input;
    options.output = file.output;
    if (!file.labels.empty()) {
        options.label_files.push_back(file.labels);
    }
    options.transcript = file.transcript;
    // The batch prints its own lines.
    options.quiet = true;
    if (!has_masks(options)) {
        return {
            EXIT_BAD_INPUT, "nothing to mask: no labels beside it and no --mask, --labels, --word or --words", -1, {}};
    }
    FileOutcome outcome = mask_file(options);
    return {outcome.status, outcome.message, outcome.seconds, std::move(outcome.words_found)};
}

} // namespace

int run_batch_command(int argc, char** argv)
{
    Options options;
    ParsedOptions parsed;
    TreeSettings tree;
    std::string manifest, shard_text = "0/1";
    BatchSettings settings;
    CLI::App app("Masks every audio file of a folder, or of a manifest, into another folder.", "zendrik-mask batch");
    app.footer(BATCH_FOOTER);
    app.get_formatter()->column_width(26);
    app.add_option("in_dir", tree.in_dir, "Folder of the files to mask");
    app.add_option("out_dir", tree.out_dir, "Folder to write them in, at the same relative paths");
    app.add_option("--manifest", manifest, "TSV or CSV: input, output, labels, transcript; instead of the folders")
        ->type_name("FILE");
    app.add_option("--labels-dir", tree.labels_dir, "Where each file's NAME.txt labels are (default: beside it)")
        ->type_name("DIR");
    app.add_option("--transcripts-dir", tree.transcripts_dir, "Where each file's transcript is (default: beside it)")
        ->type_name("DIR");
    app.add_option("--shard", shard_text, "Only the K-th of N shares of the files: K/N, or auto")->type_name("K/N");
    app.add_option("-j,--jobs", settings.jobs, "Files masked at once (default 1)")->type_name("N");
    // Files side by side by default: on the measurement, faster than a file's
    // stretches on several threads (see docs/performance.md).
    app.add_option("--recogniser-jobs", options.jobs, "Recogniser threads within each file (default 1)")
        ->type_name("N");
    add_mask_options(app, options, parsed);
    const char* const per_file
        = ", per file: a name beside its output ({name}.EXT, {name} its name without "
          "extension) or a folder mirroring the output tree";
    app.add_option("--write-labels", options.labels_out, std::string("Write each file's ranges as labels") + per_file)
        ->type_name("PATTERN|DIR");
    app.add_option("--report", options.report_file, std::string("Write each file's finds as JSON") + per_file)
        ->type_name("PATTERN|DIR");
    app.add_option("--write-edl", options.edl_out, std::string("Write each file's ranges as an EDL") + per_file)
        ->type_name("PATTERN|DIR");
    app.add_option("--review", options.review_page,
                   std::string("Write each file's review page") + per_file + "; OUT_DIR/index.html lists them")
        ->type_name("PATTERN|DIR");
    app.add_flag("--dry-run", options.dry_run, "Find the words and write the files above, but no audio");
    if (const std::optional<int> status = parse_command_line(app, argc, argv)) {
        return *status;
    }
    try {
        finish_options(options, parsed);
        if (settings.jobs < 1 || settings.jobs > 256) {
            throw bad_input("--jobs must be 1 to 256");
        }
        if (options.jobs < 1 || options.jobs > 256) {
            throw bad_input("--recogniser-jobs must be 1 to 256");
        }
        if (manifest.empty() == (tree.in_dir.empty() || tree.out_dir.empty())) {
            throw bad_input("give an input and an output folder, or --manifest (see batch --help)");
        }
        const Shard shard = parse_shard(shard_text, process_environment());
        tree.find_transcripts = !options.words.empty() || !options.word_files.empty();
        tree.output_extension = extension_for_format(options.format);
        const FileTree listed = manifest.empty() ? list_tree(tree) : FileTree{read_manifest(manifest), {}, {}};
        std::vector<BatchFile> files = listed.files;
        check_outputs(files);
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [&](const BatchFile& file) { return !in_shard(file.key, shard); }),
                    files.end());
        settings.quiet = options.quiet;
        settings.in_dir = manifest.empty() ? tree.in_dir : "";
        settings.options_hash = options_hash(options);
        prepare_runs(options.streams);
        // Once, not for each file: a missing plugin is one error, not one a file.
        load_plugin();
        record_folders(listed, tree.out_dir);
        settings.unreadable_folders = static_cast<int>(listed.unreadable.size());
        const std::string out_dir = manifest.empty() ? tree.out_dir : "";
        const BatchTotals totals
            = run_batch(files, settings, [&](const BatchFile& file) { return mask_one(options, file, out_dir); });
        if (!options.review_page.empty() && !out_dir.empty()) {
            write_review_index(files, options, out_dir);
        }
        // Refusals on record alone are nothing new: a scheduler that retries
        // on failure would rerun them forever.
        const bool new_failures = totals.failed > totals.failed_before;
        return new_failures || totals.stopped || !listed.unreadable.empty() ? EXIT_WRITE_FAILED : 0;
    } catch (const Error& e) {
        return report(e);
    }
}

int run_summary_command(int argc, char** argv)
{
    std::string out_dir;
    bool csv = false, json = false;
    CLI::App app(
        "Merges the records a batch left in OUT_DIR: files done and failed, with the reasons, hours of "
        "audio, words found, CPU time.",
        "zendrik-mask summary");
    app.add_option("out_dir", out_dir, "The batch's output folder")->required();
    auto* csv_flag = app.add_flag("--csv", csv, "As CSV: kind, name, value");
    app.add_flag("--json", json, "As JSON")->excludes(csv_flag);
    if (const std::optional<int> status = parse_command_line(app, argc, argv)) {
        return *status;
    }
    try {
        const BatchSummary summary = summarise(out_dir);
        const std::string text = json ? summary_json(summary) : csv ? summary_csv(summary) : summary_text(summary);
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : report(write_failed("cannot write the summary"));
    } catch (const Error& e) {
        return report(e);
    }
}

} // namespace zendrik_mask
