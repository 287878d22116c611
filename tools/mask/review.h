// SPDX-License-Identifier: ISC
// What the user reviews before and after bleeping: the ranges as an Audacity
// label file, a summary of the words found, and the same as JSON.
#ifndef ZENDRIK_MASK_REVIEW_H
#define ZENDRIK_MASK_REVIEW_H

#include "options.h"
#include "ranges.h"
#include "temp_file.h"
#include "word_list.h"
#include "word_search.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

// "damn (transcript 0.87)", "damned for damn* (recogniser 0.42)", "damn (transcript, whole cue)": the Audacity
// label text for a found word, naming the words heard when they are not the listed text itself. The confidence
// has two decimals, whatever the C locale; control characters become spaces, since a tab or a line end would
// break the label file. "damn (recogniser 0.87, stream 2)" names the audio stream when `stream` is one;
// "damn (transcript, aligned)" a word placed by aligning its cue to the sound; "damn (recogniser 0.87, fit
// -2.4)" gives, with one decimal, how well the word alone fitted its sound when the recogniser checked it;
// ", agreed" that the decoding without the list's boost heard it there too.
std::string label_text(const std::string& word, const std::string& heard, const std::string& source,
                       std::optional<double> confidence, bool whole_cue, int stream = -1, bool aligned = false,
                       std::optional<double> fit = std::nullopt, bool agreed = false);

// A warning when `given` holds a label that --write-labels wrote for a found
// word while words are to be found too: the words a reviewer deleted from
// that file would be found again. "" otherwise.
std::string relabel_warning(const Options& options, const std::vector<TimeRange>& given);

struct Review {
    const WordRequest& request;
    const std::vector<FoundWord>& found;
    const std::vector<TimeRange>& word_ranges;  // one per find, padded
    const std::vector<TimeRange>& given_ranges; // from --mask and --labels
    int64_t length_ns = -1;                     // the input's length; -1 when unknown
    // Finds not sure enough to bleep, each with its padded range; for the page and the report.
    const std::vector<FoundWord>* near_misses = nullptr;
    const std::vector<TimeRange>* near_ranges = nullptr;
    const Options* options = nullptr; // for the page: the input and the tone
};

// Every range to bleep, one label each, times to the nanosecond so that the
// file read back with --labels masks the very same samples.
std::string labels_text(const Review& review);

// Every range to bleep as an edit decision list, MPlayer's and Kodi's: "start
// end 1" a line, 1 muting the sound there, ranges merged where they overlap
// and clipped at the input's end, as the masking clips them.
std::string edl_text(const Review& review);

// The finds as JSON: each word of the list with where it was found.
std::string report_text(const Review& review);

// The --review page: every find and near miss with its sound (review_page_entry.cpp).
std::string review_page_text(const Review& review);

// The --write-labels and --report files, written as the audio is: to
// temporary files beside their targets, renamed over them once everything
// the run writes is whole.
class ReviewFiles {
public:
    // Checks their paths before any work, so that a run that could not write
    // them writes nothing: neither may be a file the run reads or writes, nor
    // anything but a regular file; links are followed as the output's are;
    // their folders must take a new file. Checks as well that the output,
    // when written, is none of the files the run reads: `output_file` is
    // where its links lead, empty for none. Throws the bad-input Error or
    // write_failed; adds warnings.
    ReviewFiles(const Options& options, const std::string& output_file, std::vector<std::string>& warnings);
    // Writes each whole, flushed to disk; throws write_failed.
    void write(const Review& review);
    // Each file with its target, for replace_all.
    std::vector<Replacement> replacements();

private:
    struct File {
        std::string option, path, target;
        const char* what; // in messages
        std::string (*text)(const Review&);
        std::unique_ptr<TempFile> temp;
    };
    std::vector<File> files_;
};

// "zendrik-mask: found by the recogniser: 'damn' 2; 'hell' 0" on stderr: a
// count per word, the words not found only counted when there are many.
void print_summary(const Review& review);

} // namespace zendrik_mask

#endif
