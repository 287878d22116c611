// SPDX-License-Identifier: ISC
#include "word_report.h"

#include <charconv>

namespace zendrik_mask {

std::string label_text(const std::string& word, const std::string& source, std::optional<double> confidence,
                       bool whole_cue)
{
    std::string text;
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte < 0x20 || byte == 0x7F ? ' ' : c;
    }
    text += " (" + source;
    if (confidence) {
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, *confidence, std::chars_format::fixed, 2);
        text += ' ';
        text.append(digits, result.ptr);
    }
    if (whole_cue) {
        text += ", whole cue";
    }
    return text + ")";
}

} // namespace zendrik_mask
