// SPDX-License-Identifier: ISC
#include "text.h"

#include <algorithm>

namespace zendrik_mask {

bool read_line(std::istream& in, std::string& line)
{
    line.clear();
    for (auto c = in.get(); c != std::istream::traits_type::eof(); c = in.get()) {
        if (c == '\n') {
            return true;
        }
        if (c == '\r') {
            if (in.peek() == '\n') {
                in.get();
            }
            return true;
        }
        line += static_cast<char>(c);
    }
    return !line.empty();
}

std::string_view trim(std::string_view text, std::string_view blanks)
{
    const auto begin = text.find_first_not_of(blanks);
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

CodePoint decode_utf8(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return {};
    }
    if (text.size() < length) {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) {
            return {};
        }
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {};
    }
    return {code, length, true};
}

std::size_t invalid_utf8_at(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint point = decode_utf8(text.substr(at));
        if (!point.valid) {
            return at;
        }
        at += point.length;
    }
    return std::string_view::npos;
}

std::string as_utf8(std::string_view text)
{
    if (invalid_utf8_at(text) == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

bool is_space(char c)
{
    return WHITESPACE.find(c) != std::string_view::npos;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_blank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), is_space);
}

std::string lower_case(std::string text)
{
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

std::string apply_edits(std::string_view text, const std::vector<TextEdit>& edits)
{
    std::string edited;
    std::size_t at = 0;
    for (const TextEdit& edit : edits) {
        edited.append(text.substr(at, edit.begin - at));
        edited += edit.replacement;
        at = edit.end;
    }
    edited.append(text.substr(at));
    return edited;
}

} // namespace zendrik_mask
