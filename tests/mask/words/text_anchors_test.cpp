// SPDX-License-Identifier: ISC
// zendrik-mask's texts without times: anchored on the words heard, the rest
// left as passages for the aligner; and the captions' censored words.
#include "cue_text.h"
#include "text_anchors.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace zendrik_mask;

namespace {

std::vector<TextWord> text_of(const std::string& text)
{
    std::vector<TextWord> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back({word, "t.txt:1"});
    }
    return words;
}

// Words heard one a second from `from` on, each lasting half a second.
std::vector<TimedWord> heard_from(double from, const std::string& text)
{
    std::vector<TimedWord> words;
    std::istringstream in(text);
    for (std::string word; in >> word; from += 1) {
        words.push_back({word, from, from + 0.5, 0.9, false, "", false});
    }
    return words;
}

TEST(MaskTextAnchors, AnchoredWordsTakeTheirTimesAndPassagesLieBetween)
{
    // "damn" was heard as "down"; the rest as written.
    const std::vector<TimedWord> timed = anchor_text(text_of("The cat sat, damn it! On the mat today."),
                                                     heard_from(10, "the cat sat down it on the mat today"), 30);
    ASSERT_EQ(timed.size(), 9u);
    EXPECT_EQ(timed[0].text, "The");
    EXPECT_DOUBLE_EQ(timed[0].start, 10);
    EXPECT_FALSE(timed[0].cue);
    // "damn" alone was not heard: a passage from the end of "sat" to the start of "it!".
    EXPECT_TRUE(timed[3].cue);
    EXPECT_DOUBLE_EQ(timed[3].start, 12.5);
    EXPECT_DOUBLE_EQ(timed[3].end, 14);
    EXPECT_FALSE(timed[4].cue);
    EXPECT_DOUBLE_EQ(timed[8].end, 18.5);
}

TEST(MaskTextAnchors, RepeatedOrMisplacedRunsAnchorNothing)
{
    // The text says "over and over" twice; the recogniser heard its end first.
    const std::vector<TimedWord> timed
        = anchor_text(text_of("over and over we went, then over and over again to the very end"),
                      heard_from(0, "to the very end over and over we went then over and over again"), 40);
    ASSERT_EQ(timed.size(), 14u);
    // The longest chain in order wins: the start, anchored after the misheard end.
    EXPECT_DOUBLE_EQ(timed[3].start, 7);
    EXPECT_FALSE(timed[3].cue);
    // "to the very end" heard before the start cannot be placed there: a passage to the recording's end.
    EXPECT_TRUE(timed[13].cue);
    EXPECT_DOUBLE_EQ(timed[13].end, 40);
}

TEST(MaskCueText, CensoredWordsAreStarsOrUnderscores)
{
    for (const char* censored : {"__", "[__]", "f***", "f*ck", "s**t!", "****", "(***)"}) {
        EXPECT_TRUE(is_censored(censored)) << censored;
    }
    for (const char* word : {"*", "_", "a_b", "__init__", "star*", "2*3", "damn", "**bold**"}) {
        EXPECT_FALSE(is_censored(word)) << word;
    }
}

TEST(MaskCueText, OnlyCuesHoldingAFindOrACensoredWordAreKept)
{
    CueCollector cues;
    const auto add = [&](const char* text, double start, bool find) {
        cues.add({text, start, start + 2, std::nullopt, true, "s.srt:" + std::to_string(int(start)), true}, find);
    };
    add("Oh", 0, false);
    add("damn", 0, true);
    add("fine", 3, false);
    add("[", 6, false);
    add("__", 6, false);
    add("]", 6, false);
    cues.add({"damn", 9, 9.4, 0.8, false, "w.json", false}, true); // a word's own times: no cue
    const std::vector<CueText> kept = cues.finish();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].written, (std::vector<std::string>{"Oh", "damn"}));
    EXPECT_FALSE(kept[0].censored);
    EXPECT_TRUE(kept[1].censored);
    EXPECT_EQ(cue_excerpt(kept[1]), "[ __ ]");
}

} // namespace
