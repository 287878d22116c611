// SPDX-License-Identifier: ISC
// How found words are reported: the text of their Audacity labels.
#ifndef ZENDRIK_MASK_WORD_REPORT_H
#define ZENDRIK_MASK_WORD_REPORT_H

#include <optional>
#include <string>

namespace zendrik_mask {

// "damn (transcript 0.87)", "damn (recogniser 0.42)", "damn (transcript, whole cue)": the Audacity label text for a
// found word. The confidence has two decimals, whatever the C locale; control characters in `word` become spaces,
// since a tab or a line end would break the label file.
std::string label_text(const std::string& word, const std::string& source, std::optional<double> confidence,
                       bool whole_cue);

} // namespace zendrik_mask

#endif
