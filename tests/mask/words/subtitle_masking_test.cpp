// SPDX-License-Identifier: ISC
// zendrik-mask's words found, written over in a subtitle cue's text: only
// the listed words near a find, their markup and punctuation kept.
#include "subtitle_masking.h"

#include <gtest/gtest.h>

using namespace zendrik_mask;

namespace {

std::vector<WordPattern> patterns_of(const std::vector<std::string>& texts)
{
    std::vector<WordPattern> patterns;
    for (const std::string& text : texts) {
        patterns.push_back(parse_word(text, "--word " + text));
    }
    return patterns;
}

FoundWord found_at(std::size_t pattern, double start, double end)
{
    return {pattern, start, end, std::nullopt, false, "", -1, false, ""};
}

std::string cleaned(const SubtitleMasker& masker, const std::string& cue, CueMarkup markup, double start, double end)
{
    std::string text = cue;
    const std::vector<TextEdit> edits = masker.edits(cue, markup, start, end);
    for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit) {
        text.replace(edit->begin, edit->end - edit->begin, edit->replacement);
    }
    return text;
}

} // namespace

TEST(SubtitleMasking, OnlyTheWordsFoundNearTheCueAreMaskedWithTheirMarkupKept)
{
    const std::vector<WordPattern> patterns = patterns_of({"damn*", "john dashwood", "heck", "[censored]", "émile"});
    const std::vector<FoundWord> found{found_at(0, 10.0, 10.4), found_at(1, 20.0, 21.0), found_at(2, 50.0, 50.3),
                                       found_at(3, 10.1, 10.2), found_at(4, 10.0, 10.3)};
    const SubtitleMasker stars(patterns, found, std::size_t{3}, SubtitleMask{});
    // A second of slack either side; "heck" was found elsewhere, "f***" is already hidden.
    EXPECT_EQ(cleaned(stars, "<i>Damned,</i> heck!\nf*** \"damn\"", CueMarkup::text, 11.0, 12.0),
              "<i>****,</i> heck!\nf*** \"****\"");
    EXPECT_EQ(cleaned(stars, "Damn it", CueMarkup::text, 11.5, 12.0), "Damn it");
    // A phrase across a line break and a tag; ASS's fields are not the text.
    EXPECT_EQ(
        cleaned(stars, "0,0,John,,0,0,0,,{\\pos(1,2)}Mr John\\N{\\i1}Dashwood{\\i0}", CueMarkup::ass_event, 19.0, 20.5),
        "0,0,John,,0,0,0,,{\\pos(1,2)}Mr ****\\N{\\i1}****{\\i0}");
    // Nothing found but the censored word: nothing to mask.
    EXPECT_FALSE(SubtitleMasker(patterns, {found[3]}, std::size_t{3}, SubtitleMask{}).masks_anything());

    const SubtitleMasker initials(patterns, found, std::nullopt, parse_subtitle_mask("initial"));
    EXPECT_EQ(cleaned(initials, "Damned, ÉMILE.", CueMarkup::text, 10.0, 10.5), "D*****, É****.");
    EXPECT_EQ(cleaned(SubtitleMasker(patterns, found, std::nullopt, parse_subtitle_mask("[beep]")), "damn",
                      CueMarkup::text, 10.0, 10.5),
              "[beep]");
    EXPECT_THROW(parse_subtitle_mask("{\\i1}"), Error);
    EXPECT_THROW(parse_subtitle_mask(""), Error);
}
