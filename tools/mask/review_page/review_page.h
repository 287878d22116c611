// SPDX-License-Identifier: ISC
// The review page: one HTML file that plays each find's stretch of sound as
// it was and as it will be bleeped, lets the reviewer keep or drop each and
// move its edges, and saves what was kept as an Audacity label file.
#ifndef ZENDRIK_MASK_REVIEW_PAGE_H
#define ZENDRIK_MASK_REVIEW_PAGE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zendrik_mask {

struct PageItem {
    std::string listed, heard, source; // source: recogniser, transcript, labels, --mask
    std::optional<double> confidence;
    int64_t start_ns, end_ns; // the range bleeped when kept
    std::string label;        // the label the export writes for it
    bool near_miss = false;   // kept only when the reviewer says so
};

struct PageData {
    std::string input, output; // as the user named them
    double frequency = 1000, level = 0.5;
    std::string tone_options; // the --frequency, --level and --preset to repeat, "" for the defaults
    std::vector<PageItem> items;
};

// The whole page. Reads the input's sound around each item; throws the
// bad-input Error when it cannot be read, write_failed when it cannot be encoded.
std::string review_page_html(const PageData& data);

// The bits of the page that are not data, kept apart for their size.
extern const char* const PAGE_STYLE;
extern const char* const PAGE_SCRIPT;

} // namespace zendrik_mask

#endif
