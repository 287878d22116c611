// SPDX-License-Identifier: ISC
#include "word_list.h"

#include "text.h"

#include <algorithm>
#include <charconv>

namespace zendrik_mask {

namespace {

constexpr std::string_view BLANKS = " \t";
constexpr std::string_view SEPARATORS = " \t\n\v\f\r";
constexpr std::string_view SENSITIVITY_KEY = "sensitivity=";

void append_utf8(std::string& out, char32_t code)
{
    const auto put = [&](char32_t bits) { out += static_cast<char>(static_cast<unsigned char>(bits)); };
    if (code < 0x80) {
        put(code);
    } else if (code < 0x800) {
        put(0xC0 | (code >> 6));
        put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        put(0xE0 | (code >> 12));
        put(0x80 | ((code >> 6) & 0x3F));
        put(0x80 | (code & 0x3F));
    } else {
        put(0xF0 | (code >> 18));
        put(0x80 | ((code >> 12) & 0x3F));
        put(0x80 | ((code >> 6) & 0x3F));
        put(0x80 | (code & 0x3F));
    }
}

// Punctuation, symbols, spaces and controls beyond ASCII. Everything else
// counts as a letter, so that words in scripts not listed here keep their
// letters.
struct CodeRange {
    char32_t first, last;
};
constexpr CodeRange NOT_LETTERS[] = {
    {0x80, 0xA9},       // Latin-1 controls, no-break space, ¡ to ©; ª is a letter
    {0xAB, 0xB4},       // « to ´; µ is a letter
    {0xB6, 0xB9},       // ¶ to ¹; º is a letter
    {0xBB, 0xBF},       // » to ¿
    {0xD7, 0xD7},       // ×
    {0xF7, 0xF7},       // ÷
    {0x2000, 0x2BFF},   // general punctuation up to the arrows, shapes and dingbats
    {0x2E00, 0x2E7F},   // supplemental punctuation
    {0x3000, 0x303F},   // CJK symbols and punctuation
    {0xFE00, 0xFE1F},   // variation selectors, vertical forms
    {0xFE30, 0xFE6F},   // CJK compatibility forms, small forms
    {0xFEFF, 0xFEFF},   // byte order mark
    {0xFF01, 0xFF0F},   // full-width ! to /
    {0xFF1A, 0xFF20},   // full-width : to @
    {0xFF3B, 0xFF40},   // full-width [ to `
    {0xFF5B, 0xFF65},   // full-width { to ~, half-width CJK punctuation
    {0xFFF0, 0xFFFF},   // specials, the replacement character among them
    {0x1F000, 0x1FAFF}, // emoji and other pictographs
    {0xE0000, 0xE007F}, // tags, in flag emoji
};

bool is_letter_or_digit(const CodePoint& point)
{
    if (!point.valid) {
        return false;
    }
    const char32_t c = point.code;
    if (c < 0x80) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    }
    return std::none_of(std::begin(NOT_LETTERS), std::end(NOT_LETTERS),
                        [c](const CodeRange& range) { return c >= range.first && c <= range.last; });
}

// Lower case for ASCII, Latin-1 and Latin Extended-A, one code point for
// one; the typographic apostrophes become ASCII's.
char32_t fold(char32_t c)
{
    const bool even = c % 2 == 0;
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return c + 0x20;
    }
    if (c == 0x130) {
        return 'i'; // İ; its neighbour ı is already lower case
    }
    if ((c >= 0x100 && c <= 0x137 && even) || (c >= 0x139 && c <= 0x148 && !even) || (c >= 0x14A && c <= 0x177 && even)
        || (c >= 0x179 && c <= 0x17E && !even)) {
        return c + 1;
    }
    switch (c) {
    case 0x178: return 0xFF;  // Ÿ, whose ÿ is in Latin-1
    case 0x17F: return 's';   // long s
    case 0x2019: return '\''; // ’
    case 0x2BC: return '\'';  // ʼ
    default: return c;
    }
}

// The line without its comment: all of it when it starts with '#', else from
// a '#' after a blank.
std::string_view without_comment(std::string_view line)
{
    line = trim(line, BLANKS);
    if (!line.empty() && line.front() == '#') {
        return {};
    }
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '#' && BLANKS.find(line[i - 1]) != std::string_view::npos) {
            return trim(line.substr(0, i), BLANKS);
        }
    }
    return line;
}

bool starts_with_key(std::string_view field)
{
    if (field.size() < SENSITIVITY_KEY.size()) {
        return false;
    }
    return std::equal(SENSITIVITY_KEY.begin(), SENSITIVITY_KEY.end(), field.begin(), [](char key, char c) {
        return key == (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    });
}

double parse_sensitivity(std::string_view value, const std::string& where)
{
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    // The negated test also refuses NaN.
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || !(number >= 0 && number <= 1)) {
        throw bad_input(where + ": sensitivity must be a number from 0 to 1, not '" + std::string(value) + "'");
    }
    return number;
}

} // namespace

std::string normalise_word(std::string_view word)
{
    // The bytes from the first letter or digit to the end of the last.
    std::size_t begin = word.size();
    std::size_t end = 0;
    for (std::size_t at = 0; at < word.size();) {
        const CodePoint point = decode_utf8(word.substr(at));
        if (is_letter_or_digit(point)) {
            begin = std::min(begin, at);
            end = at + point.length;
        }
        at += point.length;
    }
    std::string out;
    for (std::size_t at = begin; at < end;) {
        const CodePoint point = decode_utf8(word.substr(at));
        if (point.valid) {
            append_utf8(out, fold(point.code));
        } else {
            out += word[at];
        }
        at += point.length;
    }
    return out;
}

bool word_matches(const std::string& pattern_word, const std::string& normalised_word)
{
    if (normalised_word.empty()) {
        return false;
    }
    if (!pattern_word.empty() && pattern_word.back() == '*') {
        const std::string_view stem(pattern_word.data(), pattern_word.size() - 1);
        return starts_with(normalised_word, stem);
    }
    return pattern_word == normalised_word;
}

WordPattern parse_word(std::string_view text, const std::string& origin)
{
    if (invalid_utf8_at(text) != std::string_view::npos) {
        throw bad_input(origin + ": not UTF-8");
    }
    WordPattern pattern;
    pattern.origin = origin;
    bool open_ended = false;
    for (std::size_t at = text.find_first_not_of(SEPARATORS); at != std::string_view::npos;
         at = text.find_first_not_of(SEPARATORS, at)) {
        const std::size_t stop = std::min(text.find_first_of(SEPARATORS, at), text.size());
        std::string_view field = text.substr(at, stop - at);
        at = stop;
        const std::size_t star = field.find('*');
        if (star != std::string_view::npos && star + 1 != field.size()) {
            throw bad_input(origin + ": '*' goes only at the end of the last word");
        }
        const bool wildcard = star != std::string_view::npos;
        if (wildcard) {
            field.remove_suffix(1);
        }
        std::string word = normalise_word(field);
        if (word.empty()) {
            if (wildcard) {
                throw bad_input(origin + ": a lone '*' would match every word");
            }
            continue; // a dash or other punctuation between words
        }
        if (open_ended) {
            throw bad_input(origin + ": '*' goes only at the end of the last word");
        }
        if (wildcard) {
            word += '*';
            open_ended = true;
        }
        pattern.text += (pattern.text.empty() ? "" : " ") + word;
        pattern.words.push_back(std::move(word));
    }
    if (pattern.words.empty()) {
        throw bad_input(origin + ": nothing to find, no letter or digit");
    }
    return pattern;
}

std::vector<WordPattern> parse_word_list(std::istream& in, const std::string& name)
{
    std::vector<WordPattern> patterns;
    std::string line;
    for (long number = 1; read_line(in, line); ++number) {
        const std::string where = name + ":" + std::to_string(number);
        std::string_view view(line);
        if (number == 1 && starts_with(view, UTF8_BOM)) {
            view.remove_prefix(UTF8_BOM.size());
        }
        if (invalid_utf8_at(view) != std::string_view::npos) {
            throw bad_input(where + ": not UTF-8");
        }
        view = without_comment(view);
        if (view.empty()) {
            continue;
        }
        // The override is the last field; anywhere else it is a mistake, not a word.
        std::optional<double> sensitivity;
        for (std::size_t at = 0; at < view.size(); at = view.find_first_not_of(BLANKS, at)) {
            const std::size_t stop = std::min(view.find_first_of(BLANKS, at), view.size());
            if (starts_with_key(view.substr(at))) {
                if (stop != view.size()) {
                    throw bad_input(where + ": sensitivity= goes at the end of the line");
                }
                sensitivity = parse_sensitivity(view.substr(at + SENSITIVITY_KEY.size()), where);
                view = view.substr(0, at);
                break;
            }
            at = stop;
        }
        WordPattern pattern = parse_word(view, where);
        pattern.sensitivity = sensitivity;
        patterns.push_back(std::move(pattern));
    }
    if (in.bad()) {
        throw bad_input(name + ": read error");
    }
    return patterns;
}

std::vector<FoundWord> match_words(const std::vector<WordPattern>& patterns, const std::vector<TimedWord>& words)
{
    struct Spoken {
        std::string word;
        const TimedWord* timed;
    };
    std::vector<Spoken> spoken;
    for (const TimedWord& timed : words) {
        std::string word = normalise_word(timed.text);
        if (!word.empty()) {
            spoken.push_back({std::move(word), &timed});
        }
    }
    std::vector<FoundWord> found;
    for (std::size_t first = 0; first < spoken.size(); ++first) {
        for (std::size_t index = 0; index < patterns.size(); ++index) {
            const std::vector<std::string>& wanted = patterns[index].words;
            if (wanted.empty() || wanted.size() > spoken.size() - first) {
                continue;
            }
            bool all = true;
            for (std::size_t k = 0; all && k < wanted.size(); ++k) {
                all = word_matches(wanted[k], spoken[first + k].word);
            }
            if (!all) {
                continue;
            }
            FoundWord match{index, spoken[first].timed->start, spoken[first + wanted.size() - 1].timed->end, {}, false};
            for (std::size_t k = 0; k < wanted.size(); ++k) {
                const TimedWord& timed = *spoken[first + k].timed;
                if (timed.confidence && (!match.confidence || *timed.confidence < *match.confidence)) {
                    match.confidence = timed.confidence;
                }
                match.whole_cue = match.whole_cue || timed.whole_cue;
            }
            found.push_back(match);
        }
    }
    // Already so when the words come in order; recognisers may let them overlap.
    std::stable_sort(found.begin(), found.end(),
                     [](const FoundWord& a, const FoundWord& b) { return a.start < b.start; });
    return found;
}

} // namespace zendrik_mask
