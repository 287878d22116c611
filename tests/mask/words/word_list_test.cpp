// SPDX-License-Identifier: ISC
// zendrik-mask's word lists: reading --word and --words files, normalising
// words, finding them among timed words.
#include "word_list.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace zendrik_mask;

namespace {

std::string error_of(const std::string& file)
{
    std::istringstream in(file);
    try {
        parse_word_list(in, "w.txt");
    } catch (const Error& e) {
        return e.message();
    }
    return "(no error)";
}

TEST(MaskWordListFile, ReadsWordsCommentsOverridesAndEveryLineEnd)
{
    std::istringstream in(
        "\xEF\xBB\xBF# words\r\n"
        "Damn*\r\n"
        "\n"
        "   # indented comment\r"
        "John\t - Dashwood  # the name\n"
        "heck SENSITIVITY=0.25\n"
        "c#  sensitivity=1");
    const auto patterns = parse_word_list(in, "w.txt");
    ASSERT_EQ(patterns.size(), 4u);
    EXPECT_EQ(patterns[0].text, "damn*");
    EXPECT_EQ(patterns[0].origin, "w.txt:2");
    EXPECT_FALSE(patterns[0].sensitivity);
    EXPECT_EQ(patterns[1].words, (std::vector<std::string>{"john", "dashwood"}));
    EXPECT_EQ(patterns[1].text, "john dashwood");
    EXPECT_EQ(patterns[1].origin, "w.txt:5");
    EXPECT_EQ(patterns[2].text, "heck");
    EXPECT_EQ(patterns[2].sensitivity, 0.25);
    EXPECT_EQ(patterns[3].text, "c"); // '#' inside a word starts no comment
    EXPECT_EQ(patterns[3].sensitivity, 1.0);
}

TEST(MaskWordListFile, RefusesBadLinesNamingThem)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ok\nd\xC3\n", "w.txt:2: not UTF-8"},
        {"ok # caf\xE9\n", "w.txt:1: not UTF-8"},
        {"\n\na sensitivity=1.5", "w.txt:3: sensitivity must be a number from 0 to 1, not '1.5'"},
        {"a sensitivity=0,5", "w.txt:1: sensitivity must be"},
        {"a sensitivity=nan", "w.txt:1: sensitivity must be"},
        {"a sensitivity=", "w.txt:1: sensitivity must be"},
        {"sensitivity=0.5 a", "w.txt:1: sensitivity= goes at the end"},
        {"sensitivity=0.5", "w.txt:1: nothing to find"},
        {"ok\n\xE2\x80\x9C...\xE2\x80\x9D", "w.txt:2: nothing to find"},
        {"*", "w.txt:1: a lone '*'"},
        {"damn *", "w.txt:1: a lone '*'"},
        {"da*mn", "w.txt:1: '*' goes only at the end of the last word"},
        {"*damn", "w.txt:1: '*' goes only at the end of the last word"},
        {"damn* it", "w.txt:1: '*' goes only at the end of the last word"},
    };
    for (const auto& [file, message] : cases) {
        EXPECT_EQ(error_of(file).rfind(message, 0), 0u) << file << ": " << error_of(file);
    }
    EXPECT_THROW(parse_word("damn* it", "--word damn* it"), Error);
    EXPECT_EQ(parse_word("  “Damn”  it! ", "--word").text, "damn it");
}

TEST(MaskWordListNormalise, StripsPunctuationAroundAndFoldsCase)
{
    // Plain literals hold UTF-8: the compilers' execution character set.
    const std::pair<const char*, const char*> cases[] = {
        {"Damn,", "damn"},
        {" damn", "damn"},
        {"DAMN!", "damn"},
        {"“Damn”", "damn"},
        {"«damn»", "damn"},
        {"¿Damn?", "damn"},
        {"—damn…", "damn"},
        {"😀damn❤️", "damn"}, // the heart ends in a variation selector
        {"Don’t", "don't"},
        {"rock-n-roll.", "rock-n-roll"},
        {"Émile", "émile"},
        {"ÉMILE", "émile"},
        {"ŁÓDŹ", "łódź"},
        {"ŒUVRE", "œuvre"},
        {"İstanbul", "istanbul"},
        {"Ÿ", "ÿ"},
        {"STRAßE", "strasse"},    // full folding: ß is ss
        {"µm", "μm"},             // the micro sign is Greek mu
        {"E\u0301MILE", "émile"}, // one é, precomposed
        {"soft\u00ADware", "software"},
        {"word¹", "word"},        // a footnote mark
        {"(\u0301a)\u0301", "a"}, // marks on punctuation go with it
        {"42%", "42"},
        {"-", ""},
        {"...", ""},
        {"—", ""},
    };
    for (const auto& [word, expected] : cases) {
        EXPECT_EQ(normalise_word(word), expected) << word;
    }
}

TEST(MaskWordListMatch, MatchesAnySpellingOfTheSameLettersAndCase)
{
    const std::pair<const char*, const char*> same[] = {
        {"café", "CAFE\u0301"}, {"cafe\u0301", "Café"}, {"ΟΔΥΣΣΕΥΣ", "Οδυσσευς"},
        {"Москва", "МОСКВА"},   {"STRASSE", "straße"},  {"straẞ*", "Strassen"},
    };
    for (const auto& [listed, heard] : same) {
        const auto found = match_words({parse_word(listed, "--word")}, {TimedWord{heard, 0, 1, {}, false, ""}});
        EXPECT_EQ(found.size(), 1u) << listed << " / " << heard;
    }
}

TEST(MaskWordListMatch, FindsWordsWildcardsAndPhrasesInARow)
{
    EXPECT_TRUE(word_matches("damn*", "damn"));
    EXPECT_TRUE(word_matches("damn*", "damnation"));
    EXPECT_FALSE(word_matches("damn*", "dam"));
    EXPECT_FALSE(word_matches("damn", "damned"));

    const std::vector<WordPattern> patterns
        = {parse_word("damn*", "a"), parse_word("John Dashwood", "b"), parse_word("dashwood", "c")};
    auto word = [](const char* text, double start, std::optional<double> confidence = {}, bool whole_cue = false) {
        return TimedWord{text, start, start + 0.5, confidence, whole_cue, ""};
    };
    const std::vector<TimedWord> words = {
        word("Mr", 0),
        word("John,", 1, 0.9, true),
        word("-", 2),
        word("DASHWOOD.", 3, 0.7),
        word("John", 4),
        word("Middleton", 5),
        word("Dashwood", 6, 0.8),
        word("Damnable!", 7),
        word("dam", 8),
    };
    const auto found = match_words(patterns, words);
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].pattern, 1u); // John, - DASHWOOD
    EXPECT_EQ(found[0].start, 1);
    EXPECT_EQ(found[0].end, 3.5);
    EXPECT_EQ(found[0].confidence, 0.7);
    EXPECT_TRUE(found[0].whole_cue);
    EXPECT_EQ(found[1].pattern, 2u); // the same Dashwood, for the other pattern
    EXPECT_EQ(found[1].start, 3);
    EXPECT_FALSE(found[1].whole_cue);
    EXPECT_EQ(found[2].pattern, 2u); // John Middleton Dashwood holds no "john dashwood"
    EXPECT_EQ(found[2].start, 6);
    EXPECT_EQ(found[3].pattern, 0u);
    EXPECT_EQ(found[3].start, 7);
    EXPECT_FALSE(found[3].confidence);
}

TEST(MaskWordListMatch, HyphenatedWordsAreAlsoTheirPartsInARow)
{
    std::vector<WordPattern> patterns;
    for (const char* listed : {"disposed", "ill disposed", "ill-disposed", "ill*", "not ill", "disposed young"}) {
        patterns.push_back(parse_word(listed, "--word"));
    }
    const std::vector<TimedWord> words = {
        {"not", 1, 1.2, {}, false, ""},
        {" ill-disposed", 1.2, 2, 0.6, false, ""},
        {"young", 2, 2.5, 0.9, false, ""},
        {"ill--", 3, 3.5, {}, false, ""},
    };
    const std::tuple<std::size_t, double, double> expected[] = {
        {4, 1, 2}, {0, 1.2, 2}, {1, 1.2, 2}, {2, 1.2, 2}, {3, 1.2, 2}, {5, 1.2, 2.5}, {3, 3, 3.5},
    };
    const auto found = match_words(patterns, words);
    ASSERT_EQ(found.size(), std::size(expected));
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(std::tuple(found[i].pattern, found[i].start, found[i].end), expected[i]) << i;
    }
    EXPECT_EQ(found[5].confidence, 0.6);
}

TEST(MaskWordListMatch, AWordBeginsEveryPatternItCanAndTiesKeepTheirOrder)
{
    std::vector<WordPattern> patterns;
    for (const char* listed : {"damn*", "damn", "da*", "damn it", "damn it*", "it", "it it", "b", "a"}) {
        patterns.push_back(parse_word(listed, "--word"));
    }
    std::vector<TimedWord> words;
    for (const char* heard : {"Damn", "it!", "it", "dams", "its"}) {
        words.push_back(
            {heard, 1.0 + static_cast<double>(words.size()), 1.5 + static_cast<double>(words.size()), {}, false, ""});
    }
    // A cue's words share its times: found in the order they were written.
    words.push_back({"a", 9, 10, {}, true, ""});
    words.push_back({"b", 9, 10, {}, true, ""});
    const std::tuple<std::size_t, double, double> expected[] = {
        {0, 1, 1.5}, {1, 1, 1.5}, {2, 1, 1.5}, {3, 1, 2.5}, {4, 1, 2.5}, {5, 2, 2.5},
        {6, 2, 3.5}, {5, 3, 3.5}, {2, 4, 4.5}, {8, 9, 10},  {7, 9, 10},
    };
    const auto found = match_words(patterns, words);
    ASSERT_EQ(found.size(), std::size(expected));
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(std::tuple(found[i].pattern, found[i].start, found[i].end), expected[i]) << i;
    }
}

} // namespace
