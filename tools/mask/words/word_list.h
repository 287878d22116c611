// SPDX-License-Identifier: ISC
// The words and phrases to bleep: read from --word and --words FILE, and
// found among timed words from a transcript or a recogniser. Pure code: no
// audio, no I/O beyond streams.
#ifndef ZENDRIK_MASK_WORD_LIST_H
#define ZENDRIK_MASK_WORD_LIST_H

#include "errors.h"
#include "timed_words.h"

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zendrik_mask {

// One word or phrase to find.
struct WordPattern {
    std::vector<std::string> words;    // normalised (see normalise_word); only the last may end in '*' (any ending)
    std::string text;                  // the words joined by one space, normalised: "damn*", "john dashwood"
    std::optional<double> sensitivity; // the line's own, 0 to 1, overriding --sensitivity
    std::string origin;                // "--word damn", "words.txt:3", for messages
};

// One --word: words separated by spaces or tabs, each normalised; the last
// may end in '*' to match any ending ("damn*" finds "damned"). Words that are
// only punctuation are dropped ("john - dashwood" is "john dashwood"). Throws
// the bad-input Error naming `origin` for text that is not UTF-8, holds no
// letter or digit, a lone '*', or a '*' anywhere but at the end of the last word.
WordPattern parse_word(std::string_view text, const std::string& origin);

// A --words file, UTF-8, one word or phrase per line as for parse_word:
//
//     # words to bleep
//     damn*
//     john dashwood    # the name, not the cottage
//     heck sensitivity=0.7
//
// Blank lines and lines whose first non-blank character is '#' are skipped; a
// '#' after a space or tab starts a comment that runs to the end of the line.
// A last field "sensitivity=X" (the key in any case), X from 0 to 1, sets that
// line's sensitivity.
// Lines end in LF, CRLF or CR; a UTF-8 byte order mark is ignored. Errors
// name `name` and the line number.
std::vector<WordPattern> parse_word_list(std::istream& in, const std::string& name);

// Text as the matcher compares it, with utf8proc: Unicode NFC, so that "é"
// typed as e and a combining accent is the precomposed é; full case folding
// ("ÉMILE" is "émile", "STRAẞE" and "straße" are "strasse", "ΟΔΥΣΣΕΥΣ" is
// "οδυσσευσ", µ is Greek μ); invisible code points such as the soft hyphen,
// zero-width spaces and variation selectors dropped. İ is i, and the
// typographic apostrophe ’ (and ʼ) is ': "Don’t" is "don't". Bytes that are
// not UTF-8 are kept as they are. Works whatever the C locale. The
// pronunciation dictionaries' words go through it too, to meet the list's.
std::string fold_text(std::string_view text);

// A word as the matcher compares it: folded (see fold_text), then stripped
// of everything around its first and last letter or digit (punctuation,
// symbols, spaces, controls, numbers that are not digits such as ² or ½, and
// bytes that are not UTF-8): "“Damn!”" is "damn", "..." is "". A combining
// mark stays with the letter it follows. Inside the word everything stays.
std::string normalise_word(std::string_view word);

// Whether a normalised transcript word is the pattern's word, or begins with
// it when the pattern's word ends in '*'. An empty word never matches.
bool word_matches(const std::string& pattern_word, const std::string& normalised_word);

struct FoundWord {
    std::size_t pattern;              // index into the patterns
    double start, end;                // seconds: the first word's start to the last word's end
    std::optional<double> confidence; // the lowest of the matched words' that give one
    bool whole_cue;                   // any matched word had only its cue's times
    std::string heard;                // the words matched, normalised: "damned" for "damn*"
    int stream = -1;                  // the audio stream heard, when a file's several were; -1 otherwise
    bool aligned = false;             // placed by aligning its cue's text to the sound
    std::string source;               // who found it, when not the one the run names ("recogniser")
    std::optional<double> fit{};      // the lowest of the matched words' that give one
    std::optional<bool> agreed{};     // false when any matched word asked was not agreed on
};

// Every place where a pattern's words occur in a row in `words`, which come in
// order of time; words that normalise to nothing are skipped, so "john, -
// dashwood" holds "john dashwood". Overlapping matches of different patterns
// are all reported. Found words come in order of start time.
std::vector<FoundWord> match_words(const std::vector<WordPattern>& patterns, const std::vector<TimedWord>& words);

// The same, given the words one at a time, as a transcript is read: only
// the phrases begun are kept. The patterns are indexed by their first word
// (exact words by the word, those ending in '*' by their stem), so each word
// costs the patterns it can begin, not every pattern. A word joined by
// hyphens ("ill-disposed") is also its parts in a row, each with the whole
// word's times: "disposed" and "ill disposed" find it, as "ill-disposed" does.
class WordMatcher {
public:
    explicit WordMatcher(const std::vector<WordPattern>& patterns);
    void add(const TimedWord& word);
    std::vector<FoundWord> found() const; // in order of start time
    std::size_t found_count() const { return done_.size(); }

private:
    struct Open {
        FoundWord found;
        std::size_t matched; // the pattern's words matched so far
        std::size_t first;   // the place of its first word among the words
    };
    // A word alone, a hyphenated word whole, or one of its parts.
    enum class Piece { word, whole, part };
    // The phrases of `from` that go on with `spoken`, and those it begins, into `to`.
    void step(const std::string& spoken, const TimedWord& word, Piece piece, const std::vector<Open>& from,
              std::vector<Open>& to);
    void begin(std::size_t pattern, const std::string& spoken, const TimedWord& word, std::vector<Open>& to);

    const std::vector<WordPattern>& patterns_;
    std::unordered_map<std::string, std::vector<std::size_t>> by_word_;
    std::unordered_map<std::string, std::vector<std::size_t>> by_stem_;
    std::vector<std::size_t> stem_lengths_; // in bytes, each once
    std::vector<Open> open_;
    std::vector<Open> next_; // reused for each word
    std::vector<Open> done_;
    std::size_t words_ = 0;
    std::string stem_; // reused for the look-ups
};

} // namespace zendrik_mask

#endif
