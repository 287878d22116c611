// SPDX-License-Identifier: ISC
#include "batch_run.h"

#include "cpu_time.h"
#include "errors.h"
#include "fingerprint.h"
#include "interrupt_note.h"
#include "record.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// What the file and its own labels and transcript are, read before masking.
struct Before {
    FileIdentity identity;
    std::string options_hash;
};

// After a failed write: whether the output's disk has less room left than
// the input takes, so that the next files would fail the same way.
bool out_of_room(const BatchFile& file, int64_t input_size)
{
    struct statvfs disk {};
    const std::string folder = std::filesystem::path(file.output).parent_path().string();
    if (statvfs(folder.empty() ? "." : folder.c_str(), &disk) != 0) {
        return false;
    }
    return static_cast<double>(disk.f_bavail) * static_cast<double>(disk.f_frsize) < static_cast<double>(input_size);
}

Before examine_file(const BatchFile& file, const std::string& options_hash)
{
    Before before{examine(file.input), {}};
    uint64_t hash = fnv1a(options_hash);
    for (const std::string& side : {file.labels, file.transcript}) {
        hash = fnv1a(side.empty() ? "-" : content_hash(side), hash);
    }
    before.options_hash = hex(hash);
    return before;
}

class Batch {
public:
    Batch(const std::vector<BatchFile>& files, const BatchSettings& settings, const MaskOne& mask)
        : files_(files), settings_(settings), mask_(mask), show_progress_(!settings.quiet && isatty(STDERR_FILENO))
    {
        // A copy of standard error: the file code shuts the real one for a
        // moment now and then, and a line printed then would be lost.
        const int copy = dup(STDERR_FILENO);
        out_ = copy >= 0 ? fdopen(copy, "w") : nullptr;
        if (!out_) {
            close(copy);
            out_ = stderr;
        }
    }
    ~Batch()
    {
        if (out_ != stderr) {
            std::fclose(out_);
        }
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    BatchTotals run()
    {
        InterruptNote note(files_.size(), fileno(out_), show_progress_);
        note_ = &note;
        std::vector<std::thread> workers;
        const unsigned count = std::max(1u, std::min<unsigned>(settings_.jobs, static_cast<unsigned>(files_.size())));
        for (unsigned i = 1; i < count; ++i) {
            workers.emplace_back([this] { work(); });
        }
        work();
        for (std::thread& worker : workers) {
            worker.join();
        }
        if (show_progress_) {
            std::fputc('\n', out_);
        }
        totals_.not_started = static_cast<int>(files_.size()) - (totals_.done + totals_.skipped + totals_.failed);
        note_ = nullptr;
        return totals_;
    }

private:
    void work()
    {
        for (std::size_t i = next_++; i < files_.size() && !stop_; i = next_++) {
            one(files_[i]);
        }
    }

    void one(const BatchFile& file)
    {
        FileRecord record;
        record.input = file.key;
        record.output = file.output;
        try {
            const Before before = examine_file(file, settings_.options_hash);
            record.options_hash = before.options_hash;
            record.identity = before.identity;
            std::optional<FileRecord> earlier = read_record(file.output);
            if (earlier && earlier->identity.size == before.identity.size
                && earlier->options_hash == before.options_hash) {
                record.identity.content_hash = content_hash(file.input);
                // A new time alone (touch, a copy to another disk) does not
                // redo a file whose content is the same.
                if (earlier->identity.content_hash == record.identity.content_hash) {
                    earlier->identity.mtime_ns = record.identity.mtime_ns;
                }
                if (still_valid(*earlier, record.identity, record.options_hash)) {
                    ++earlier->skipped;
                    // Its content vouched for, the output's new time is kept,
                    // so that the next rerun need not read it.
                    struct stat output {};
                    if (earlier->output_identity.size >= 0 && stat(file.output.c_str(), &output) == 0) {
                        earlier->output_identity.mtime_ns
                            = static_cast<int64_t>(output.st_mtim.tv_sec) * 1000000000 + output.st_mtim.tv_nsec;
                    }
                    try {
                        // Not flushed to disk: a count lost in a power cut costs
                        // nothing, a flush for each file skipped would.
                        write_record(*earlier, false);
                    } catch (const Error&) {
                        // Only the count of skips is lost; the record stands.
                    }
                    return finished(file, *earlier, true);
                }
            }
            if (record.identity.content_hash.empty()) {
                record.identity.content_hash = content_hash(file.input);
            }
            std::error_code error;
            std::filesystem::create_directories(std::filesystem::path(file.output).parent_path(), error);
            if (error) {
                throw write_failed("cannot make the folder of '" + file.output + "': " + error.message());
            }
            // Checked before the run too; a link made since must not lead
            // the output, or its record, into the input folder.
            const std::string folder = std::filesystem::path(file.output).parent_path().string();
            if (!settings_.in_dir.empty() && leads_into(folder, settings_.in_dir)) {
                record.status = EXIT_BAD_INPUT;
                record.message = "the output folder '" + folder + "' leads into the input folder";
                return finished(file, record, false);
            }
        } catch (const Error& e) {
            record.status = e.status();
            record.message = e.message();
        }
        if (record.status == 0) {
            // This thread's time and that of the threads it starts for the
            // file, whatever else runs beside it.
            CpuAccount helpers{0};
            set_helper_cpu_account(&helpers);
            const double cpu_start = thread_cpu_seconds();
            const auto start = std::chrono::steady_clock::now();
            MaskResult result = mask_(file);
            record.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            record.cpu_seconds = thread_cpu_seconds() - cpu_start + static_cast<double>(helpers.load()) * 1e-9;
            set_helper_cpu_account(nullptr);
            record.status = result.status;
            record.message = result.message;
            record.seconds = result.seconds;
            record.words_found = std::move(result.words_found);
            if (record.status == 0) {
                try {
                    record.output_identity = examine(file.output);
                    record.output_identity.content_hash = content_hash(file.output);
                } catch (const Error&) {
                    // Unknown, the output's presence is what a rerun checks.
                    record.output_identity = {};
                }
            }
            if (record.status == EXIT_WRITE_FAILED && out_of_room(file, record.identity.size)) {
                stop("the disk of the outputs is full");
            }
        }
        try {
            write_record(record);
        } catch (const Error& e) {
            // Only this file's: the next file's record may well fit.
            record.status = e.status();
            record.message = e.message();
            if (out_of_room(file, record.identity.size)) {
                stop("the disk of the outputs is full");
            }
        }
        finished(file, record, false);
    }

    void stop(const char* why)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (!stop_) {
            totals_.why_stopped = why;
        }
        stop_ = true;
    }

    void finished(const BatchFile& file, const FileRecord& record, bool skipped)
    {
        const std::lock_guard<std::mutex> hold(lock_);
        // A refusal recorded before stands: the file is still not done.
        (record.status != 0 ? totals_.failed : skipped ? totals_.skipped : totals_.done) += 1;
        totals_.failed_before += record.status != 0 && skipped ? 1 : 0;
        totals_.stopped = stop_;
        seconds_ += record.seconds > 0 ? record.seconds : 0;
        const int finished = totals_.done + totals_.skipped + totals_.failed;
        note_->set_finished(static_cast<std::size_t>(finished));
        if (record.status != 0) {
            std::fprintf(out_, "%szendrik-mask: error: '%s': %s%s\n", show_progress_ ? "\r\033[K" : "",
                         printable(file.key).c_str(), printable(record.message).c_str(),
                         skipped ? " (recorded before)" : "");
            std::fflush(out_);
        }
        if (show_progress_) {
            print_progress();
        } else if (!settings_.quiet && record.status == 0 && !skipped) {
            // A log (a file, a cluster's job) shows progress a line a file.
            std::fprintf(out_, "zendrik-mask: %d of %zu: masked '%s' (%.1f s of audio in %.1f s)\n", finished,
                         files_.size(), printable(file.key).c_str(), std::max(0.0, record.seconds),
                         record.wall_seconds);
            std::fflush(out_);
        }
    }

    void print_progress()
    {
        const int finished = totals_.done + totals_.skipped + totals_.failed;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double rate = elapsed > 0 ? finished / elapsed : 0;
        const double left
            = rate > 0 ? static_cast<double>(files_.size() - static_cast<std::size_t>(finished)) / rate : 0;
        std::fprintf(out_, "\r\033[Kzendrik-mask: %d of %zu files, %.2f h of audio, %.1f files/s, %d:%02d left",
                     finished, files_.size(), seconds_ / 3600, rate, static_cast<int>(left) / 60,
                     static_cast<int>(left) % 60);
        std::fflush(out_);
    }

    const std::vector<BatchFile>& files_;
    const BatchSettings& settings_;
    const MaskOne& mask_;
    const bool show_progress_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    BatchTotals totals_;
    double seconds_ = 0;
    FILE* out_ = stderr;
    InterruptNote* note_ = nullptr;
};

} // namespace

void record_folders(const FileTree& tree, const std::string& out_dir)
{
    namespace fs = std::filesystem;
    for (const UnreadableFolder& folder : tree.unreadable) {
        std::fprintf(stderr, "zendrik-mask: error: '%s/': cannot read the folder: %s\n",
                     printable(folder.relative).c_str(), printable(folder.why).c_str());
        FileRecord record;
        record.input = folder.relative + "/";
        record.output = (fs::path(out_dir) / folder.relative).string();
        record.status = EXIT_BAD_INPUT;
        record.message = "cannot read the folder: " + folder.why;
        std::error_code error;
        fs::create_directories(fs::path(record.output).parent_path(), error);
        try {
            write_record(record);
        } catch (const Error&) {
            // Printed all the same; summary will not know of it.
        }
    }
    for (const std::string& folder : tree.folders) {
        const std::string output = (fs::path(out_dir) / folder).string();
        const std::optional<FileRecord> earlier = folder == "." ? std::nullopt : read_record(output);
        if (earlier && !earlier->input.empty() && earlier->input.back() == '/') {
            std::error_code error;
            fs::remove(record_path(output), error);
        }
    }
}

BatchTotals run_batch(const std::vector<BatchFile>& files, const BatchSettings& settings, const MaskOne& mask)
{
    BatchTotals totals = Batch(files, settings, mask).run();
    if (!settings.quiet) {
        const std::string stopped = totals.stopped
            ? "; stopped, " + std::to_string(totals.not_started) + " not started: " + totals.why_stopped
            : "";
        const std::string folders = settings.unreadable_folders > 0 ? ", " + std::to_string(settings.unreadable_folders)
                + " folder" + (settings.unreadable_folders > 1 ? "s" : "") + " unreadable"
                                                                    : "";
        const std::string before
            = totals.failed_before > 0 ? " (" + std::to_string(totals.failed_before) + " recorded before)" : "";
        std::fprintf(stderr, "zendrik-mask: %d masked, %d skipped (done before), %d failed%s%s%s\n", totals.done,
                     totals.skipped, totals.failed, before.c_str(), folders.c_str(), stopped.c_str());
    }
    return totals;
}

} // namespace zendrik_mask
