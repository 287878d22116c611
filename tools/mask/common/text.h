// SPDX-License-Identifier: ISC
// Text as the word lists, transcripts and label files hold it: lines with
// whatever ends they were saved with, blanks around fields, and UTF-8 that
// is checked before anything else reads it.
#ifndef ZENDRIK_MASK_TEXT_H
#define ZENDRIK_MASK_TEXT_H

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace zendrik_mask {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";
// What isspace() takes in the "C" locale.
constexpr std::string_view WHITESPACE = " \t\n\v\f\r";

// One line, whichever line end it has: LF, CRLF or a lone CR (old Mac OS,
// where getline would see the whole file as one line). False at the end.
bool read_line(std::istream& in, std::string& line);

// Each format says which characters are blanks around its fields.
std::string_view trim(std::string_view text, std::string_view blanks);

bool starts_with(std::string_view text, std::string_view prefix);

// isspace() and isdigit() of the "C" locale, whatever the user's.
bool is_space(char c);
bool is_digit(char c);
bool is_blank(std::string_view text);
// A-Z as a-z, nothing else changed: for names of formats and extensions.
std::string lower_case(std::string text);

struct CodePoint {
    char32_t code = 0;
    std::size_t length = 1; // bytes
    bool valid = false;     // false for a byte that starts no well-formed sequence
};

// The code point at the start of `text`, which is not empty. Overlong forms,
// surrogates and code points past U+10FFFF are not valid.
CodePoint decode_utf8(std::string_view text);

// Where the first byte outside well-formed UTF-8 lies, or npos.
std::size_t invalid_utf8_at(std::string_view text);

// `text` as UTF-8: unchanged when it is well-formed, otherwise read as
// Latin-1, which is what tags that are not UTF-8 (ID3v1, old ID3v2 and RIFF
// INFO text) mostly hold.
std::string as_utf8(std::string_view text);

// One change to a text: the bytes from `begin` up to `end` replaced.
struct TextEdit {
    std::size_t begin = 0, end = 0;
    std::string replacement;
};

// `text` with `edits` made, which come in order and do not overlap.
std::string apply_edits(std::string_view text, const std::vector<TextEdit>& edits);

} // namespace zendrik_mask

#endif
