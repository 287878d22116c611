// SPDX-License-Identifier: ISC
#include "subtitle_masking.h"

#include "cue_text.h"
#include "errors.h"

#include <algorithm>

namespace zendrik_mask {

namespace {

// How far from a find a cue may be shown and still hold it: subtitles are
// timed loosely, as the aligner's window says.
constexpr double LOOSE_SECONDS = 1.0;

struct Span {
    std::size_t begin, end; // bytes of the cue
};

// Where markup starting at `at` ends, or 0 when none starts there.
std::size_t markup_end(std::string_view cue, std::size_t at, CueMarkup markup)
{
    const char c = cue[at];
    if (c == '{' || (c == '<' && markup == CueMarkup::text)) {
        const std::size_t close = cue.find(c == '{' ? '}' : '>', at);
        return close == std::string_view::npos ? 0 : close + 1;
    }
    // ASS's line breaks and hard space.
    const bool escape = markup == CueMarkup::ass_event && c == '\\' && at + 1 < cue.size();
    return escape && (cue[at + 1] == 'N' || cue[at + 1] == 'n' || cue[at + 1] == 'h') ? at + 2 : 0;
}

// The words of the text a cue shows, between blanks and markup.
std::vector<Span> cue_words(std::string_view cue, CueMarkup markup)
{
    std::size_t at = 0;
    if (markup == CueMarkup::ass_event) {
        // The text is the ninth field; the eight before it are not shown.
        for (int field = 0; field < 8 && at != std::string_view::npos; ++field) {
            at = cue.find(',', at);
            at = at == std::string_view::npos ? at : at + 1;
        }
        if (at == std::string_view::npos) {
            return {};
        }
    }
    std::vector<Span> words;
    std::size_t begin = std::string_view::npos;
    const auto close = [&](std::size_t end) {
        if (begin != std::string_view::npos) {
            words.push_back({begin, end});
        }
        begin = std::string_view::npos;
    };
    while (at < cue.size()) {
        if (const std::size_t after = markup_end(cue, at, markup)) {
            close(at);
            at = after;
        } else if (is_space(cue[at])) {
            close(at);
            ++at;
        } else {
            begin = begin == std::string_view::npos ? at : begin;
            ++at;
        }
    }
    close(cue.size());
    return words;
}

std::size_t next_code_point(std::string_view text, std::size_t at)
{
    return at + decode_utf8(text.substr(at)).length;
}

// The part of a word the matcher compares: punctuation around it left out,
// found by what normalise_word keeps.
Span letters_of(std::string_view word)
{
    const std::string whole = normalise_word(word);
    Span letters{0, word.size()};
    while (letters.begin < letters.end) {
        const std::size_t next = next_code_point(word, letters.begin);
        if (normalise_word(word.substr(next, letters.end - next)) != whole) {
            break;
        }
        letters.begin = next;
    }
    while (letters.end > letters.begin) {
        std::size_t last = letters.end - 1;
        while (last > letters.begin && (static_cast<unsigned char>(word[last]) & 0xC0) == 0x80) {
            --last;
        }
        if (normalise_word(word.substr(letters.begin, last - letters.begin)) != whole) {
            break;
        }
        letters.end = last;
    }
    return letters;
}

} // namespace

SubtitleMask parse_subtitle_mask(const std::string& option)
{
    if (lower_case(option) == "initial") {
        return {true, ""};
    }
    if (option.empty() || option.find_first_of("{}<>\\&\r\n") != std::string::npos
        || invalid_utf8_at(option) != std::string::npos) {
        throw bad_input("--subtitle-mask '" + option
                        + "': give plain UTF-8 text without { } < > \\ & or line breaks (subtitle markup), or initial");
    }
    return {false, option};
}

SubtitleMasker::SubtitleMasker(const std::vector<WordPattern>& patterns, const std::vector<FoundWord>& found,
                               std::optional<std::size_t> censored, SubtitleMask mask)
    : patterns_(patterns), mask_(std::move(mask))
{
    for (const FoundWord& find : found) {
        if (!censored || find.pattern != *censored) {
            finds_.push_back({find.pattern, find.start, find.end});
        }
    }
}

std::vector<TextEdit> SubtitleMasker::edits(std::string_view cue, CueMarkup markup, double start, double end) const
{
    std::vector<std::size_t> near;
    for (const Find& find : finds_) {
        if (find.start <= end + LOOSE_SECONDS && find.end >= start - LOOSE_SECONDS
            && std::find(near.begin(), near.end(), find.pattern) == near.end()) {
            near.push_back(find.pattern);
        }
    }
    if (near.empty()) {
        return {};
    }
    std::vector<WordPattern> listed;
    for (const std::size_t pattern : near) {
        listed.push_back(patterns_[pattern]);
    }
    // Each word's place among the cue's words stands for its time, so that a
    // find says which words it spans.
    const std::vector<Span> words = cue_words(cue, markup);
    WordMatcher matcher(listed);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto place = static_cast<double>(i);
        matcher.add(TimedWord{std::string(cue.substr(words[i].begin, words[i].end - words[i].begin)), place,
                              place + 0.5, std::nullopt, false, "", false});
    }
    std::vector<bool> masked(words.size(), false);
    for (const FoundWord& found : matcher.found()) {
        for (auto i = static_cast<std::size_t>(found.start); i <= static_cast<std::size_t>(found.end); ++i) {
            masked[i] = true;
        }
    }
    std::vector<TextEdit> edits;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = cue.substr(words[i].begin, words[i].end - words[i].begin);
        if (!masked[i] || is_censored(word)) {
            continue;
        }
        const Span letters = letters_of(word);
        if (letters.end > letters.begin) {
            edits.push_back({words[i].begin + letters.begin, words[i].begin + letters.end,
                             mask_of(word.substr(letters.begin, letters.end - letters.begin))});
        }
    }
    return edits;
}

std::string SubtitleMasker::mask_of(std::string_view word) const
{
    if (!mask_.initial) {
        return mask_.text;
    }
    const std::size_t first = next_code_point(word, 0);
    std::size_t others = 0;
    for (std::size_t at = first; at < word.size(); at = next_code_point(word, at)) {
        ++others;
    }
    return std::string(word.substr(0, first)) + std::string(std::max<std::size_t>(others, 1), '*');
}

} // namespace zendrik_mask
