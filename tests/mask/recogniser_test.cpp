// SPDX-License-Identifier: ISC
// The built-in recogniser's second look: each listed word it hears is
// aligned alone to its own sound before it is bleeped, and a short one must
// be heard by English alone too, as must a word held back. On real speech (the LibriVox readings of
// pocketsphinx-testdata, a prompt of asterisk-core-sounds-en-g722).
#include "cli_harness.h"

#include <nlohmann/json.hpp>

namespace mask_test {

namespace {

// Eager enough, the decoding hears "hell" at 3.4 s, sure of it, where the
// reader says something else; aligned alone to that sound, it fits far worse
// than the name that was said, and is held back.
TEST_F(MaskCli, AFindTheSoundDoesNotBearOutIsHeldBack)
{
    // Without dither, so that the decoding hears the same samples every run.
    std::string padded = "sox -D";
    for (const char* reading : {"0870", "0880", "0890", "0920", "0930"}) {
        padded += std::string(" /usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-")
            + reading + ".wav";
    }
    padded += " -r 44100 -c 2 '" + p("padded.wav") + "' pad 0 30";
    ASSERT_EQ(std::system(padded.c_str()), 0);
    const Result r = mask({p("padded.wav"), "--dry-run", "--sensitivity", "0.75", "--words", "profanity", "--word",
                           "dashwood", "--report", p("report.json"), "--write-labels", p("labels.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json report = nlohmann::json::parse(slurp(p("report.json")));
    std::map<std::string, nlohmann::json> words;
    for (const nlohmann::json& word : report["words"]) {
        words[word["word"]] = word;
    }
    ASSERT_EQ(words["dashwood"]["found"], 1) << report.dump(1);
    const double said_fit = words["dashwood"]["places"][0]["fit"];
    const nlohmann::json& invented = words["hell"]["near_misses"];
    ASSERT_EQ(invented.size(), 1u) << report.dump(1);
    EXPECT_NEAR(invented[0]["start"].get<double>(), 3.4, 0.2);
    EXPECT_GE(invented[0]["confidence"].get<double>(), 0.4); // sure enough for the decoding alone
    EXPECT_LT(invented[0]["fit"].get<double>(), said_fit - 10);
    for (const auto& [word, found] : words) {
        EXPECT_EQ(found["found"], word == "dashwood" ? 1 : 0) << word;
    }
    EXPECT_NE(slurp(p("labels.txt")).find("\tdashwood (recogniser 1.00, fit "), std::string::npos)
        << slurp(p("labels.txt"));
}

// "He was not an ill disposed young man", then "press 0 for help": the
// boosted decoding hears "hell" for "help", sure of it and fitting its sound
// well, but English alone hears "help" there, so it is held back; "man" and
// "for", as short and said, are heard by both and kept.
TEST_F(MaskCli, AShortWordEnglishAloneDoesNotHearIsHeldBack)
{
    const std::string prompt = p("for-help.wav");
    ASSERT_EQ(std::system(("ffmpeg -v error -f g722 -i "
                           "/usr/share/asterisk/sounds/en_US_f_Allison/dictate/forhelp.g722 -ar 16000 '"
                           + prompt + "'")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("sox -D /usr/share/pocketsphinx/test/data/librivox/"
                           "sense_and_sensibility_01_austen_64kb-0880.wav '"
                           + prompt + "' -r 44100 -c 2 '" + p("speech.wav") + "' pad 1 1")
                              .c_str()),
              0);
    const Result r = mask({p("speech.wav"), "--dry-run", "--words", "profanity", "--word", "man", "--word", "for",
                           "--report", p("report.json"), "--write-labels", p("labels.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json report = nlohmann::json::parse(slurp(p("report.json")));
    std::map<std::string, nlohmann::json> words;
    for (const nlohmann::json& word : report["words"]) {
        words[word["word"]] = word;
        EXPECT_EQ(word["found"], word["word"] == "man" || word["word"] == "for" ? 1 : 0) << word.dump(1);
    }
    EXPECT_EQ(words["man"]["places"][0]["agreed"], true);
    EXPECT_EQ(words["for"]["places"][0]["agreed"], true);
    const nlohmann::json& invented = words["hell"]["near_misses"];
    ASSERT_EQ(invented.size(), 1u) << report.dump(1);
    EXPECT_NEAR(invented[0]["start"].get<double>(), 5.1, 0.3);
    EXPECT_EQ(invented[0]["agreed"], false);
    // Sure and fitting enough that only English alone held it back.
    EXPECT_GE(invented[0]["confidence"].get<double>(), 0.3);
    EXPECT_GE(invented[0]["fit"].get<double>(), -4.0);
    EXPECT_NE(slurp(p("labels.txt")).find("\tman (recogniser "), std::string::npos);
    EXPECT_NE(slurp(p("labels.txt")).find(", agreed)"), std::string::npos) << slurp(p("labels.txt"));
}

// "This test is most useful when you have connected to this Asterisk server
// from a remote location. The sample configuration...": eager for "sambo",
// the decoding hears it for "sample", sure of it and fitting it well. Listed
// below the run's sensitivity, as the shipped list holds its slurs, it must be
// agreed on although it is long, and English alone hears "sample"; the long
// words said, held back as well, are heard by both. Listed at the run's own
// sensitivity instead (the same boost), it is not asked, and would be bleeped.
TEST_F(MaskCli, AWordHeldBackIsAgreedOnWhateverItsLength)
{
    ASSERT_EQ(std::system(("ffmpeg -v error -f g722 -i "
                           "/usr/share/asterisk/sounds/en_US_f_Allison/demo-instruct.g722 -ar 16000 -ac 1 '"
                           + p("prompt.wav") + "' && sox -R '" + p("prompt.wav") + "' -r 48000 -c 2 '" + p("speech.wav")
                           + "' trim 30 12")
                              .c_str()),
              0);
    const auto run = [&](const std::string& list, const std::string& sensitivity) {
        std::ofstream(p("list.txt")) << list;
        const Result r = mask({p("speech.wav"), "--dry-run", "--sensitivity", sensitivity, "--words", p("list.txt"),
                               "--report", p("report.json")});
        EXPECT_EQ(r.status, 0) << r.err;
        const nlohmann::json report = nlohmann::json::parse(slurp(p("report.json")));
        std::map<std::string, nlohmann::json> words;
        for (const nlohmann::json& word : report["words"]) {
            words[word["word"]] = word;
        }
        return words;
    };
    auto words = run("sambo sensitivity=0.4\nuseful sensitivity=0.4\nlocation sensitivity=0.4\n", "0.5");
    for (const char* said : {"useful", "location"}) {
        ASSERT_EQ(words[said]["found"], 1) << words[said].dump(1);
        EXPECT_EQ(words[said]["places"][0]["agreed"], true);
    }
    EXPECT_EQ(words["sambo"]["found"], 0);
    const nlohmann::json& invented = words["sambo"]["near_misses"];
    ASSERT_EQ(invented.size(), 1u) << invented.dump(1);
    EXPECT_EQ(invented[0]["agreed"], false);
    EXPECT_GE(invented[0]["confidence"].get<double>(), 0.35);
    EXPECT_GE(invented[0]["fit"].get<double>(), 0.0);

    words = run("sambo\nuseful\nlocation\n", "0.4");
    ASSERT_EQ(words["sambo"]["found"], 1) << words["sambo"].dump(1);
    EXPECT_TRUE(words["sambo"]["places"][0]["agreed"].is_null());
}

} // namespace

} // namespace mask_test
