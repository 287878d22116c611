// SPDX-License-Identifier: ISC
// From a word list to the keyphrases the recogniser spots, on small
// dictionaries written here.
#include "errors.h"
#include "pronunciations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

using namespace zendrik_mask;

std::vector<WordPattern> patterns(const std::vector<std::string>& texts)
{
    std::vector<WordPattern> list;
    for (const std::string& text : texts) {
        list.push_back(parse_word(text, "--word " + text));
    }
    return list;
}

const char* const MODEL_DICT
    = ";;; a dictionary\n"
      "damn D AE M\n"
      "damned D AE M D\n"
      "damning D AE M IH NG\n"
      "john JH AA N\n"
      "dashwood D AE SH W UH D\n"
      "dashwood(2) D AE SH W UW D # heard too\n";

std::string error_of(const std::vector<WordPattern>& list, const std::string& model, const std::string& extra = "")
{
    std::istringstream model_text(model);
    std::istringstream extra_text(extra);
    try {
        plan_spotting(list, {{"extra.dict", &extra_text}, {"model.dict", &model_text}}, 0.5);
    } catch (const Error& e) {
        return e.message();
    }
    return "";
}

} // namespace

TEST(MaskPronunciations, KeyphrasesForWordsVariantsWildcardsAndPhrases)
{
    std::istringstream mine("Damn D AE M N\n");
    std::istringstream model(MODEL_DICT);
    std::vector<WordPattern> list = patterns({"dashwood", "damn*", "John Dashwood", "Dashwood"});
    std::istringstream strict("damn* sensitivity=0\nDashwood sensitivity=0\n");
    const std::vector<WordPattern> strict_list = parse_word_list(strict, "words.txt");
    list[1] = strict_list[0];
    list[3] = strict_list[1]; // listed twice: the stricter threshold holds
    const SpottingPlan plan = plan_spotting(list, {{"mine.dict", &mine}, {"model.dict", &model}}, 0.5);

    std::map<std::string, double> thresholds;
    for (const Keyphrase& keyphrase : plan.keyphrases) {
        thresholds[keyphrase.text] = keyphrase.threshold;
    }
    // Both ways to say a word alone; a phrase in its words' first ways; the
    // user's dictionary ahead of the model's ("damn" has five phones then).
    const std::map<std::string, double> expected{
        {"dashwood", std::pow(10.0, 6 * 2.0)}, {"dashwood(2)", std::pow(10.0, 6 * 2.0)},
        {"damn", std::pow(10.0, 4 * 2.0)},     {"damned", std::pow(10.0, 4 * 2.0)},
        {"damning", std::pow(10.0, 5 * 2.0)},  {"john dashwood", std::pow(10.0, 9 * -0.5)}};
    ASSERT_EQ(thresholds.size(), expected.size());
    for (const auto& [text, threshold] : expected) {
        ASSERT_TRUE(thresholds.count(text)) << text;
        EXPECT_NEAR(thresholds[text] / threshold, 1.0, 1e-9) << text;
    }
    EXPECT_EQ(plan.patterns_of.at("dashwood"), (std::set<std::size_t>{0, 3}));
    EXPECT_EQ(plan.patterns_of.at("damning"), (std::set<std::size_t>{1}));
    EXPECT_EQ(plan.patterns_of.at("john dashwood"), (std::set<std::size_t>{2}));
    const auto damn = std::find_if(plan.pronunciations.begin(), plan.pronunciations.end(),
                                   [](const Pronunciation& p) { return p.word == "damn"; });
    ASSERT_NE(damn, plan.pronunciations.end());
    EXPECT_EQ(damn->phones, "D AE M N");
}

TEST(MaskPronunciations, MissingWordsAndBadDictionariesAreNamed)
{
    EXPECT_EQ(error_of(patterns({"zorp", "damn", "john blorf", "xq*"}), MODEL_DICT),
              "not in the pronunciation dictionary: 'blorf', 'xq*', 'zorp'; add a pronunciation with --dict FILE, "
              "one word a line in CMU format (e.g. \"zendrik Z EH N D R IH K\"), using the model's phones");
    EXPECT_EQ(error_of(patterns({"damn"}), MODEL_DICT, "ok OW K EY\nzorp\n"),
              "extra.dict:2: 'zorp' has no phones (a line is \"word PH ON ES\")");
    std::string many;
    for (int i = 0; i <= static_cast<int>(MAX_WILDCARD_WORDS); ++i) {
        many += "da" + std::to_string(i) + " D AH\n";
    }
    EXPECT_NE(error_of(patterns({"da*"}), many).find("matches 201 dictionary words"), std::string::npos);
}

TEST(MaskPronunciations, DictionaryWordsAreFoldedAsTheListIs)
{
    std::istringstream mine("STRAẞE S T R AA S AH\nÉmile EY M IY L\n");
    const SpottingPlan plan = plan_spotting(patterns({"strasse", "E\u0301MILE"}), {{"mine.dict", &mine}}, 0.5);
    ASSERT_EQ(plan.pronunciations.size(), 2u);
    EXPECT_EQ(plan.pronunciations[0].word, "strasse");
    EXPECT_EQ(plan.pronunciations[1].word, "émile");
}
