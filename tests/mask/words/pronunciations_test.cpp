// SPDX-License-Identifier: ISC
// From a word list to the pronunciations and boosts the decoder is given,
// on small dictionaries written here.
#include "errors.h"
#include "pronunciation_guess.h"
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
        plan_decoding(list, {{"extra.dict", &extra_text}, {"model.dict", &model_text}}, 0.5);
    } catch (const Error& e) {
        return e.message();
    }
    return "";
}

} // namespace

TEST(MaskPronunciations, ListedWordsWithTheirVariantsWildcardsAndBoosts)
{
    std::istringstream mine("Damn D AE M N\ndame D EY M\n");
    std::istringstream model(MODEL_DICT);
    std::vector<WordPattern> list = patterns({"dam*", "dashwood", "damn*", "John Dashwood", "Dashwood", "damned"});
    std::istringstream strict("damn* sensitivity=0\nDashwood sensitivity=0.25\n");
    const std::vector<WordPattern> strict_list = parse_word_list(strict, "words.txt");
    list[2] = strict_list[0];
    list[4] = strict_list[1]; // listed twice: the lower sensitivity holds
    const DecodingPlan plan = plan_decoding(list, {{"mine.dict", &mine}, {"model.dict", &model}}, 0.5);

    std::map<std::string, double> boosts;
    for (const ListedWord& listed : plan.listed) {
        boosts[listed.word] = listed.boost;
    }
    // 10^(3 s - 5): the phrase's "john" at the default 0.5, "damn*" as every
    // word it matches at 0.
    const std::map<std::string, double> expected{{"dame", std::pow(10.0, -3.5)},
                                                 {"dashwood", std::pow(10.0, -4.25)},
                                                 {"damn", 1e-5},
                                                 {"damned", 1e-5},
                                                 {"damning", 1e-5},
                                                 {"john", std::pow(10.0, -3.5)}};
    ASSERT_EQ(boosts.size(), expected.size());
    for (const auto& [word, boost] : expected) {
        ASSERT_TRUE(boosts.count(word)) << word;
        EXPECT_NEAR(boosts[word] / boost, 1.0, 1e-9) << word;
    }
    // A pattern's words share its boost as English shares their use; one
    // English lacks counts as its rarest word. "damned" is listed as itself
    // too: it counts in the shares but keeps its boost. "damn" takes the
    // larger of its two patterns' shares, whichever pattern comes first.
    const std::map<std::string, double> english{{"dame", 1e-5}, {"damn", 8e-5}, {"damned", 2e-5}, {"dashwood", 1e-9}};
    const auto english_of = [&](const std::string& word) { return english.count(word) ? english.at(word) : 0.0; };
    const double damn_pattern = 8e-5 + 2e-5 + 3e-10;
    const std::map<std::string, double> share{
        {"dame", 1e-5 / (damn_pattern + 1e-5)}, {"damn", 8e-5 / damn_pattern}, {"damning", 3e-10 / damn_pattern}};
    for (const ListedWord& shared : share_pattern_boosts(plan.listed, english_of)) {
        const double expected_share = share.count(shared.word) ? share.at(shared.word) : 1.0;
        EXPECT_NEAR(shared.boost / (boosts[shared.word] * expected_share), 1.0, 1e-9) << shared.word;
    }
    // Both ways to say "dashwood"; the user's dictionary ahead of the model's.
    std::multimap<std::string, std::string> ways;
    for (const Pronunciation& p : plan.pronunciations) {
        ways.emplace(p.word, p.phones);
    }
    EXPECT_EQ(ways.count("dashwood"), 2u);
    ASSERT_EQ(ways.count("damn"), 1u);
    EXPECT_EQ(ways.find("damn")->second, "D AE M N");
    EXPECT_NEAR(least_confidence(0.5), 0.2, 1e-12);
    EXPECT_NEAR(least_confidence(1.0), 0.0, 1e-12);
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
    const DecodingPlan plan = plan_decoding(patterns({"strasse", "E\u0301MILE"}), {{"mine.dict", &mine}}, 0.5);
    ASSERT_EQ(plan.pronunciations.size(), 2u);
    EXPECT_EQ(plan.pronunciations[0].word, "strasse");
    EXPECT_EQ(plan.pronunciations[1].word, "émile");
}

// The CMU dictionary as published marks each vowel's stress.
TEST(MaskPronunciations, StressMarksAreReadAsThePhoneWithoutStress)
{
    std::istringstream cmu("zendrik Z EH1 N D R IH0 K\nair EH2 R\n");
    const DecodingPlan plan = plan_decoding(patterns({"zendrik", "air"}), {{"cmudict.dict", &cmu}}, 0.5);
    ASSERT_EQ(plan.pronunciations.size(), 2u);
    EXPECT_EQ(plan.pronunciations[0].phones, "EH R");
    EXPECT_EQ(plan.pronunciations[1].phones, "Z EH N D R IH K");
}

// eSpeak NG's IPA, as it writes it for US English, in the model's phones;
// and a guess for a word no dictionary has, used and reported.
TEST(MaskPronunciations, GuessesAreMappedToTheModelsPhonesAndUsed)
{
    EXPECT_EQ(cmu_phones_of_ipa("dˈæʃwʊd"), "D AE SH W UH D");
    EXPECT_EQ(cmu_phones_of_ipa("bˈʌɾɚ"), "B AH T ER");
    EXPECT_EQ(cmu_phones_of_ipa("tʃˈaɪldʒ ˌoʊvɚ"), "CH AY L JH OW V ER");
    EXPECT_EQ(cmu_phones_of_ipa("ˌɑːzɪmˈændiəz"), "AA Z IH M AE N D IY AH Z");
    EXPECT_EQ(cmu_phones_of_ipa("xˈa"), ""); // no phone for x
    std::istringstream model(MODEL_DICT);
    const DecodingPlan plan
        = plan_decoding(patterns({"zorp", "damn"}), {{"model.dict", &model}}, 0.5,
                        [](const std::string& word) -> std::optional<std::string> {
                            return word == "zorp" ? std::optional<std::string>("Z AO R P") : std::nullopt;
                        });
    ASSERT_EQ(plan.guessed.size(), 1u);
    EXPECT_EQ(plan.guessed[0].word, "zorp");
    EXPECT_EQ(plan.guessed[0].phones, "Z AO R P");
    EXPECT_EQ(plan.listed.size(), 2u);
}
