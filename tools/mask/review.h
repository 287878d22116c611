// SPDX-License-Identifier: ISC
// What the user reviews before and after bleeping: the ranges as an Audacity
// label file, a summary of the words found, and the same as JSON.
#ifndef ZENDRIK_MASK_REVIEW_H
#define ZENDRIK_MASK_REVIEW_H

#include "ranges.h"
#include "word_list.h"
#include "word_search.h"

#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

// "damn (transcript 0.87)", "damn (recogniser 0.42)", "damn (transcript, whole cue)": the Audacity label text for a
// found word. The confidence has two decimals, whatever the C locale; control characters in `word` become spaces,
// since a tab or a line end would break the label file.
std::string label_text(const std::string& word, const std::string& source, std::optional<double> confidence,
                       bool whole_cue);

struct Review {
    const WordRequest& request;
    const std::vector<FoundWord>& found;
    const std::vector<TimeRange>& word_ranges;  // one per find, padded
    const std::vector<TimeRange>& given_ranges; // from --mask and --labels
};

// Every range to bleep, one label each, times to the nanosecond so that the
// file read back with --labels masks the very same samples. Written whole
// or not at all; throws write_failed.
void write_labels(const Review& review, const std::string& path);

// The finds as JSON: each word of the list with where it was found.
void write_report(const Review& review, const std::string& path);

// "zendrik-mask: found 'damn' 2 times (0:01.230, 0:45.100), ..." on stderr.
void print_summary(const Review& review);

} // namespace zendrik_mask

#endif
