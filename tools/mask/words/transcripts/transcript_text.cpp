// SPDX-License-Identifier: ISC
#include "transcript_text.h"

#include "text.h"

#include <algorithm>

namespace zendrik_mask {

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_blank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), is_space);
}

std::size_t bom_length(std::string_view text)
{
    return starts_with(text, UTF8_BOM) ? UTF8_BOM.size() : 0;
}

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
    text.remove_prefix(bom_length(text));
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
