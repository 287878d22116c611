// SPDX-License-Identifier: ISC
#include "transcript_text.h"

#include "text.h"

#include <algorithm>

namespace zendrik_mask {

std::size_t line_at(std::string_view text, std::size_t offset)
{
    const auto before = text.substr(0, offset);
    return 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
}

std::string at_line(const std::string& name, std::size_t line)
{
    return name + ":" + std::to_string(line);
}

std::vector<Line> split_lines(std::string_view text)
{
    if (starts_with(text, UTF8_BOM)) {
        text.remove_prefix(UTF8_BOM.size());
    }
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        lines.push_back({text.substr(pos, end - pos), lines.size() + 1});
        pos = end;
        if (pos < text.size()) {
            pos += text.compare(pos, 2, "\r\n") == 0 ? 2u : 1u;
        }
    }
    return lines;
}

} // namespace zendrik_mask
