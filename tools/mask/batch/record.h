// SPDX-License-Identifier: ISC
// The record each file of a batch leaves beside its output once the output
// is in place: what was masked, from which input, by which settings, with
// what outcome. A rerun skips the files whose record still matches.
#ifndef ZENDRIK_MASK_RECORD_H
#define ZENDRIK_MASK_RECORD_H

#include "fingerprint.h"

#include <map>
#include <optional>
#include <string>

namespace zendrik_mask {

// OUTPUT.zendrik.json; a name too long for that is cut and takes its hash.
constexpr const char* RECORD_SUFFIX = ".zendrik.json";

struct FileRecord {
    std::string input;  // as the batch names it: the relative path or the manifest's
    std::string output; // the path written; on disk only its name, beside which the record lies
    FileIdentity identity;
    FileIdentity output_identity; // the output as written; size -1 when not known
    std::string options_hash;
    int status = 0;      // the single-file command's exit status: 0 done
    std::string message; // the error, for a failed file
    double seconds = -1; // the audio's length, -1 when not known
    std::map<std::string, int> words_found;
    double wall_seconds = 0;
    double cpu_seconds = 0;
    int skipped = 0; // later runs that found the file done
};

std::string record_path(const std::string& output);

// The record beside `output`, when there is one that reads whole and names
// it; its `output` is then `output`, wherever the folder was when written.
std::optional<FileRecord> read_record(const std::string& output);
// Atomically: a temporary file renamed over the record, flushed to disk when
// `durable`. Throws write_failed.
void write_record(const FileRecord& record, bool durable = true);

// Whether `record` still stands for a run of `identity` with `options_hash`:
// done with its output in place and unchanged, or refused as bad input,
// which a rerun would refuse again. A failed write is tried again.
bool still_valid(const FileRecord& record, const FileIdentity& identity, const std::string& options_hash);
// Whether the output is as written: of its size, and of its time or, when
// that differs, its content.
bool output_unchanged(const FileRecord& record);

std::string record_json(const FileRecord& record);
// Throws the bad-input Error for text that is no record.
FileRecord parse_record(const std::string& text);

} // namespace zendrik_mask

#endif
