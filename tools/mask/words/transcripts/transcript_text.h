// SPDX-License-Identifier: ISC
// The characters and lines of a transcript's text, as every reader sees them,
// and the "talk.srt:12" its messages give.
#ifndef ZENDRIK_MASK_TRANSCRIPT_TEXT_H
#define ZENDRIK_MASK_TRANSCRIPT_TEXT_H

#include "text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

// The line, counted from 1, that the byte at `offset` is on.
std::size_t line_at(std::string_view text, std::size_t offset);
std::string at_line(const std::string& name, std::size_t line);

struct Line {
    std::string_view text;
    std::size_t number;
};

// Lines end in LF, CRLF or a lone CR, as WebVTT allows them all. A BOM is
// dropped.
std::vector<Line> split_lines(std::string_view text);

} // namespace zendrik_mask

#endif
