// SPDX-License-Identifier: ISC
// --except and --except-labels: ranges a reviewer cleared, where the word
// finder's finds are not bleeped on the next run.
#ifndef ZENDRIK_MASK_EXCEPT_RANGES_H
#define ZENDRIK_MASK_EXCEPT_RANGES_H

#include "options.h"
#include "ranges.h"
#include "word_list.h"

#include <vector>

namespace zendrik_mask {

// Throws the bad-input Error for a malformed range or label file.
std::vector<TimeRange> read_except_ranges(const Options& options);

// Drops each find, with its range, whose word lies wholly inside an
// excepted range. `ranges` holds one range per find.
void drop_excepted(std::vector<FoundWord>& found, std::vector<TimeRange>& ranges,
                   const std::vector<TimeRange>& excepted);

} // namespace zendrik_mask

#endif
