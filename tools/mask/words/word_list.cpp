// SPDX-License-Identifier: ISC
#include "word_list.h"

#include "text.h"

#include <utf8proc.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <new>

namespace zendrik_mask {

namespace {

constexpr std::string_view BLANKS = " \t";
constexpr std::string_view SEPARATORS = " \t\n\v\f\r";
constexpr std::string_view SENSITIVITY_KEY = "sensitivity=";

// Marks belong to the character they follow; the rest of a word is letters
// and digits, and whatever utf8proc's tables leave unassigned or private, so
// that a script newer than them keeps its words. Punctuation, symbols,
// spaces, controls and other numbers (the footnote marks ¹ ² ³) lie around
// words, as do bytes that are not UTF-8.
enum class Part { word, mark, around };

Part part_of(const CodePoint& point)
{
    if (!point.valid) {
        return Part::around;
    }
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(point.code))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN: return Part::word;
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME: return Part::mark;
    default: return Part::around;
    }
}

// Where full case folding and the way people type part: İ folds to i and a
// combining dot above, which no typed "istanbul" holds, so it takes Turkic
// folding's plain i; the typographic apostrophes are typed as ASCII's.
utf8proc_int32_t as_typed(utf8proc_int32_t code, void* /*unused*/)
{
    switch (code) {
    case 0x130: return 'i';   // İ
    case 0x2019: return '\''; // ’
    case 0x2BC: return '\'';  // ʼ
    default: return code;
    }
}

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};

std::string fold_utf8(std::string_view text)
{
    // Most words are ASCII, which needs neither utf8proc's tables nor its
    // allocation: the model's pronunciation dictionary alone has 134 000.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string out(text);
        for (char& c : out) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return out;
    }
    constexpr auto options
        = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD | UTF8PROC_IGNORE);
    utf8proc_uint8_t* folded = nullptr;
    const utf8proc_ssize_t length
        = utf8proc_map_custom(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                              static_cast<utf8proc_ssize_t>(text.size()), &folded, options, as_typed, nullptr);
    const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owner(folded);
    if (length < 0) {
        throw std::bad_alloc(); // the text is UTF-8: only memory can fail
    }
    return std::string(reinterpret_cast<const char*>(folded), static_cast<std::size_t>(length));
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

std::string fold_text(std::string_view text)
{
    std::string out;
    // Bytes that are not UTF-8 stay as they are, between folded runs.
    for (std::size_t bad = invalid_utf8_at(text); bad != std::string_view::npos; bad = invalid_utf8_at(text)) {
        out += fold_utf8(text.substr(0, bad));
        out += text[bad];
        text.remove_prefix(bad + 1);
    }
    return out + fold_utf8(text);
}

std::string normalise_word(std::string_view word)
{
    const std::string folded = fold_text(word);
    // The bytes from the first letter or digit to the end of the last, with
    // the marks that follow it.
    std::size_t begin = folded.size();
    std::size_t end = 0;
    bool in_word = false;
    for (std::size_t at = 0; at < folded.size();) {
        const CodePoint point = decode_utf8(std::string_view(folded).substr(at));
        const Part part = part_of(point);
        if (part == Part::word || (part == Part::mark && in_word)) {
            begin = std::min(begin, at);
            end = at + point.length;
            in_word = true;
        } else if (part == Part::around) {
            in_word = false;
        }
        at += point.length;
    }
    return begin < end ? folded.substr(begin, end - begin) : std::string();
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

WordMatcher::WordMatcher(const std::vector<WordPattern>& patterns) : patterns_(patterns)
{
    for (std::size_t index = 0; index < patterns.size(); ++index) {
        if (patterns[index].words.empty()) {
            continue;
        }
        const std::string& first = patterns[index].words.front();
        if (!first.empty() && first.back() == '*') {
            const std::string stem = first.substr(0, first.size() - 1);
            by_stem_[stem].push_back(index);
            if (std::find(stem_lengths_.begin(), stem_lengths_.end(), stem.size()) == stem_lengths_.end()) {
                stem_lengths_.push_back(stem.size());
            }
        } else {
            by_word_[first].push_back(index);
        }
    }
}

void WordMatcher::begin(std::size_t pattern, const std::string& spoken, const TimedWord& word, std::vector<Open>& to)
{
    Open open{
        {pattern, word.start, word.end, word.confidence, word.whole_cue, spoken, -1, false, {}, word.fit, word.agreed},
        1,
        words_};
    (patterns_[pattern].words.size() == 1 ? done_ : to).push_back(open);
}

void WordMatcher::step(const std::string& spoken, const TimedWord& word, Piece piece, const std::vector<Open>& from,
                       std::vector<Open>& to)
{
    // A hyphenated word whole meets only the list's hyphenated words, its
    // parts only the others: "well*" is found once in "well-known", not twice.
    const auto fits = [piece](const std::string& listed) {
        return piece == Piece::word || (piece == Piece::whole) == (listed.find('-') != std::string::npos);
    };
    for (const Open& open : from) {
        const std::string& listed = patterns_[open.found.pattern].words[open.matched];
        if (!fits(listed) || !word_matches(listed, spoken)) {
            continue;
        }
        Open longer = open;
        FoundWord& found = longer.found;
        found.end = word.end;
        if (word.confidence && (!found.confidence || *word.confidence < *found.confidence)) {
            found.confidence = word.confidence;
        }
        if (word.fit && (!found.fit || *word.fit < *found.fit)) {
            found.fit = word.fit;
        }
        found.agreed = word.agreed ? std::optional(found.agreed.value_or(true) && *word.agreed) : found.agreed;
        found.whole_cue = found.whole_cue || word.whole_cue;
        found.heard += " " + spoken;
        (++longer.matched == patterns_[found.pattern].words.size() ? done_ : to).push_back(longer);
    }
    if (const auto exact = by_word_.find(spoken); exact != by_word_.end()) {
        for (const std::size_t pattern : exact->second) {
            if (fits(patterns_[pattern].words.front())) {
                begin(pattern, spoken, word, to);
            }
        }
    }
    for (const std::size_t length : stem_lengths_) {
        if (length <= spoken.size()) {
            stem_.assign(spoken, 0, length);
            if (const auto stems = by_stem_.find(stem_); stems != by_stem_.end()) {
                for (const std::size_t pattern : stems->second) {
                    if (fits(patterns_[pattern].words.front())) {
                        begin(pattern, spoken, word, to);
                    }
                }
            }
        }
    }
}

void WordMatcher::add(const TimedWord& word)
{
    const std::string spoken = normalise_word(word.text);
    if (spoken.empty()) {
        return;
    }
    std::vector<std::string> parts;
    for (std::size_t at = 0; spoken.find('-') != std::string::npos && at <= spoken.size();) {
        const std::size_t hyphen = std::min(spoken.find('-', at), spoken.size());
        if (std::string part = normalise_word(std::string_view(spoken).substr(at, hyphen - at)); !part.empty()) {
            parts.push_back(std::move(part));
        }
        at = hyphen + 1;
    }
    next_.clear();
    if (parts.size() < 2) {
        step(spoken, word, Piece::word, open_, next_);
    } else {
        step(spoken, word, Piece::whole, open_, next_);
        std::vector<Open> through = open_;
        for (const std::string& part : parts) {
            std::vector<Open> after;
            step(part, word, Piece::part, through, after);
            through = std::move(after);
        }
        next_.insert(next_.end(), through.begin(), through.end());
    }
    std::swap(open_, next_);
    ++words_;
}

std::vector<FoundWord> WordMatcher::found() const
{
    // In order of start time, then as the words and the patterns come:
    // recognisers may let words overlap.
    std::vector<Open> sorted = done_;
    std::sort(sorted.begin(), sorted.end(), [](const Open& a, const Open& b) {
        return a.found.start != b.found.start ? a.found.start < b.found.start
            : a.first != b.first              ? a.first < b.first
                                              : a.found.pattern < b.found.pattern;
    });
    std::vector<FoundWord> found;
    found.reserve(sorted.size());
    for (const Open& open : sorted) {
        found.push_back(open.found);
    }
    return found;
}

std::vector<FoundWord> match_words(const std::vector<WordPattern>& patterns, const std::vector<TimedWord>& words)
{
    WordMatcher matcher(patterns);
    for (const TimedWord& word : words) {
        matcher.add(word);
    }
    return matcher.found();
}

} // namespace zendrik_mask
