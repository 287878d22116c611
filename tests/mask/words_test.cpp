// SPDX-License-Identifier: ISC
// zendrik-mask finding the words to bleep: the built-in recogniser on real
// recorded speech, word times from each transcript format, and the review
// files. Word times were measured once on the recording, by ear and eye on
// its spectrogram, and are written here.
#include "cli_harness.h"

namespace mask_test {

namespace {

void write_text(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

struct Label {
    double start, end;
    std::string text;
};

std::vector<Label> read_labels(const fs::path& path)
{
    std::vector<Label> labels;
    std::istringstream in(slurp(path));
    for (std::string line; std::getline(in, line);) {
        Label label{};
        std::istringstream fields(line);
        fields >> label.start >> label.end;
        std::getline(fields >> std::ws, label.text);
        labels.push_back(label);
    }
    return labels;
}

// Five LibriVox readings from pocketsphinx-testdata, one after another (24.73 s).
const char* const READINGS[] = {"0870", "0880", "0890", "0920", "0930"};

// "damn" spoken from 1.0 to 1.4 s, in every format a transcript comes in.
const std::pair<const char*, const char*> TRANSCRIPTS[] = {
    {"whisper.json", R"({"text":" Oh damn.","segments":[{"id":0,"start":0.0,"end":2.0,"text":" Oh damn.","words":[
        {"word":" Oh","start":0.5,"end":0.8,"probability":0.9},
        {"word":" damn.","start":1.0,"end":1.4,"probability":0.8}]}],"language":"en"})"},
    {"whisperx.json", R"({"segments":[],"word_segments":[{"word":"Oh","start":0.5,"end":0.8,"score":0.9},
        {"word":"Damn!","start":1.0,"end":1.4,"score":0.8},{"word":"1999","score":0.2}]})"},
    {"whispercpp.json", R"({"transcription":[{"offsets":{"from":0,"to":2000},"text":" oh damn","tokens":[
        {"text":"[_BEG_]","offsets":{"from":0,"to":0},"p":0.9},
        {"text":" oh","offsets":{"from":500,"to":800},"p":0.9},
        {"text":" da","offsets":{"from":1000,"to":1200},"p":0.8},
        {"text":"mn","offsets":{"from":1200,"to":1400},"p":0.7}]}]})"},
    {"vosk.jsonl",
     "{\"partial\": \"oh\"}\n{\"result\":[{\"conf\":1.0,\"end\":0.8,\"start\":0.5,\"word\":\"oh\"},"
     "{\"conf\":0.8,\"end\":1.4,\"start\":1.0,\"word\":\"damn\"}],\"text\":\"oh damn\"}\n"},
    {"cues.srt",
     "1\r\n00:00:00,500 --> 00:00:00,800\r\nOh,\r\n\r\n2\r\n00:00:01,000 --> 00:00:01,400\r\n<i>DAMN!</i>\r\n"},
    {"cues.vtt",
     "WEBVTT\n\nNOTE made by hand\n\n00:00.500 --> 00:00.800\nOh,\n\nd1\n00:01.000 --> 00:01.400 "
     "align:start\n<v Ann>damn</v>\n"},
};

} // namespace

class MaskWords : public MaskCli {
protected:
    // The readings as one 44.1 kHz stereo file, so that the recogniser's
    // input is mixed down and resampled on the way.
    void make_speech(const std::string& name)
    {
        std::string command = "sox";
        for (const char* reading : READINGS) {
            command += std::string(" /usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-")
                + reading + ".wav";
        }
        command += " -r 44100 -c 2 '" + p(name) + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
};

TEST_F(MaskWords, RecogniserFindsSpokenWordsWhereTheyAreWhateverTheJobs)
{
    make_speech("speech.wav");
    const std::vector<std::string> words{"--word",   "selfish", "--word",   "Amiable", "--word",
                                         "dashwood", "--word",  "umbrella", "--word",  "kitchen"};
    for (const char* jobs : {"1", "2"}) {
        std::vector<std::string> args{
            p("speech.wav"), "--dry-run", "--jobs", jobs, "--write-labels", p(std::string("labels-") + jobs + ".txt")};
        args.insert(args.end(), words.begin(), words.end());
        const Result r = mask(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("'umbrella' 0"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(p("speech-masked.wav")));
    EXPECT_EQ(slurp(p("labels-1.txt")), slurp(p("labels-2.txt")));

    const std::vector<Label> labels = read_labels(p("labels-1.txt"));
    const struct {
        const char* word;
        double start, end;
    } spoken[]
        = {{"dashwood", 0.98, 1.58}, {"selfish", 12.85, 13.70}, {"amiable", 16.70, 17.30}, {"amiable", 23.15, 23.70}};
    for (const auto& word : spoken) {
        const bool covered = std::any_of(labels.begin(), labels.end(), [&](const Label& label) {
            return label.text.rfind(word.word, 0) == 0 && label.start <= word.start + 0.15
                && label.end >= word.end - 0.15;
        });
        EXPECT_TRUE(covered) << word.word << " at " << word.start << " s not bleeped:\n" << slurp(p("labels-1.txt"));
    }
    for (const Label& label : labels) {
        EXPECT_TRUE(label.text.rfind("umbrella", 0) != 0 && label.text.rfind("kitchen", 0) != 0) << label.text;
    }
}

// A name the language model has never seen, known only by the pronunciation
// given for it, and the label naming the word heard for a listed ending.
TEST_F(MaskWords, ANameOutsideTheLanguageModelIsFoundByItsPronunciation)
{
    make_speech("speech.wav");
    write_text(p("names.dict"), "dashwud D AE SH W UH D\n");
    const Result r = mask({p("speech.wav"), "--dry-run", "--word", "Dashwud", "--word", "amiab*", "--dict",
                           p("names.dict"), "--write-labels", p("labels.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Label> labels = read_labels(p("labels.txt"));
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](const Label& label) {
        return label.text.rfind("dashwud (recogniser", 0) == 0 && label.start <= 1.13 && label.end >= 1.43;
    })) << slurp(p("labels.txt"));
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](const Label& label) {
        return label.text.rfind("amiable for amiab* (recogniser", 0) == 0;
    })) << slurp(p("labels.txt"));
}

TEST_F(MaskWords, RecogniserFindsAWordThatEndsOrBeginsTheFile)
{
    // The reading cut right after "dashwood" (0.98 to 1.58 s), then right before it.
    const std::string reading = ZENDRIK_MASK_SPEECH;
    const std::string cut = "sox '" + reading + "' '" + p("end.wav") + "' trim 0 1.58 && sox '" + reading + "' '"
        + p("start.wav") + "' trim 0.98 1.2";
    ASSERT_EQ(std::system(cut.c_str()), 0) << cut;
    for (const auto& [name, start, end] : {std::tuple("end", 0.98, 1.58), std::tuple("start", 0.0, 0.6)}) {
        const Result r = mask({p(std::string(name) + ".wav"), "--dry-run", "--word", "dashwood", "--pad", "0",
                               "--write-labels", p("labels.txt")});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<Label> labels = read_labels(p("labels.txt"));
        ASSERT_EQ(labels.size(), 1u) << name << ": " << r.err;
        EXPECT_LE(labels[0].start, start + 0.15) << name;
        EXPECT_GE(labels[0].end, end - 0.15) << name;
    }
}

// A published text without times: placed on the readings, with a caption's
// censored word, a passage nobody reads, and a word the text leaves out
// that only --listen bleeps.
TEST_F(MaskWords, APlainTextIsPlacedOnTheRecordingAndListenAddsWhatItLeavesOut)
{
    make_speech("speech.wav");
    write_text(p("book.txt"),
               "Chapter one. The family of Dashwood had long been settled in Sussex, damn them.\n\n"
               "And Mister John Dashwood had then leisure to consider how much there might be prudently in\n"
               "his power to do for them. He was not an ill-disposed young man, unless to be rather\n"
               "cold-hearted and rather s***** is to be ill-disposed. Had he married a more amiable woman,\n"
               "he might have been made still more respectable than he was. He might even have been made himself.\n");
    const std::pair<double, double> dashwood{0.98, 1.58}, selfish{12.85, 13.70}, amiable{16.70, 17.30},
        unread_amiable{23.15, 23.70};
    for (const bool listen : {false, true}) {
        std::vector<std::string> args{p("speech.wav"), "--dry-run", "--transcript",   p("book.txt"),  "--word",
                                      "dashwood",      "--word",    "amiable",        "--word",       "damn",
                                      "--pad",         "0",         "--write-labels", p("labels.txt")};
        if (listen) {
            args.push_back("--listen");
        }
        const Result r = mask(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("book.txt:1: the passage \"Chapter one. The family"), std::string::npos) << r.err;
        const std::vector<Label> labels = read_labels(p("labels.txt"));
        const auto bleeped = [&](const std::string& label, std::pair<double, double> word) {
            return std::any_of(labels.begin(), labels.end(), [&](const Label& l) {
                return l.text.rfind(label, 0) == 0 && l.start <= word.first + 0.12 && l.end >= word.second - 0.12
                    && l.end - l.start < 1.2;
            });
        };
        EXPECT_TRUE(bleeped("dashwood (transcript, aligned)", dashwood)) << slurp(p("labels.txt"));
        EXPECT_TRUE(bleeped("[censored] (transcript, aligned)", selfish)) << slurp(p("labels.txt"));
        EXPECT_TRUE(bleeped("amiable (transcript, aligned)", amiable)) << slurp(p("labels.txt"));
        EXPECT_EQ(bleeped("amiable (recogniser 1.00, fit ", unread_amiable), listen) << slurp(p("labels.txt"));
    }
}

TEST_F(MaskWords, ShippedListsGoByTheirNameAndTheSummaryCountsEachWord)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 3 * 16000);
    write_text(p("t.json"), R"({"segments":[{"words":[{"word":" Oh,","start":0.2,"end":0.4},
        {"word":" damned","start":1.0,"end":1.4},{"word":" shitty","start":1.5,"end":1.9},
        {"word":" damn!","start":2.0,"end":2.4}]}]})");
    const Result r = mask({p("in.wav"), "--dry-run", "--words", "profanity", "--transcript", p("t.json")});
    ASSERT_EQ(r.status, 0) << r.err;
    // Counts only: the times are in the labels and the report.
    EXPECT_TRUE(std::regex_search(r.err,
                                  std::regex("found by the transcript: 'damn\\*' 2; 'shit\\*' 1; [0-9]+ other "
                                             "words 0\n$")))
        << r.err;

    // A file of that name wins; a name that is neither is refused.
    write_text(p("profanity"), "oh\n");
    const Result own = mask({p("in.wav"), "--dry-run", "--words", "profanity", "--transcript", p("t.json")}, {},
                            {"/usr/bin/env", "-C", dir.string()});
    EXPECT_NE(own.err.find("found by the transcript: 'oh' 1\n"), std::string::npos) << own.err;
    const auto before = snapshot();
    expect_refused(mask({p("in.wav"), p("out.wav"), "--words", "profane"}), 2,
                   "no word list 'profane': no such file, nor a list shipped with zendrik-mask \\(profanity\\)\n",
                   before);

    // Every word of it is in the recogniser's dictionary.
    const Result heard = mask({ZENDRIK_MASK_SPEECH, "--dry-run", "--words", "profanity"});
    EXPECT_EQ(heard.status, 0) << heard.err;
}

TEST_F(MaskWords, HyphenatedWordsAndLabelsOfAnEarlierRun)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 2 * 16000);
    write_text(p("t.json"), R"({"segments":[{"words":[{"word":" not","start":0.5,"end":0.8,"probability":0.9},
        {"word":" ill-disposed.","start":1.0,"end":1.4,"probability":0.8}]}]})");
    const Result first = mask({p("in.wav"), "--dry-run", "--word", "disposed", "--word", "not ill", "--transcript",
                               p("t.json"), "--pad", "0", "--write-labels", p("found.txt")});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(slurp(p("found.txt")),
              "0.500000000\t1.400000000\tnot ill (transcript 0.80)\n"
              "1.000000000\t1.400000000\tdisposed (transcript 0.80)\n");

    // Found again, the words deleted from the labels would come back.
    write_text(p("found.txt"), "1.000000000\t1.400000000\tdisposed (transcript 0.80)\n");
    const Result again = mask({p("in.wav"), "--dry-run", "--labels", p("found.txt"), "--word", "disposed", "--word",
                               "not ill", "--transcript", p("t.json")});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("warning: " + p("found.txt")
                             + ":1: 'disposed (transcript 0.80)' is a word found by an "
                               "earlier run"),
              std::string::npos)
        << again.err;
    EXPECT_NE(again.err.find("run again with --labels alone"), std::string::npos) << again.err;
    const Result alone = mask({p("in.wav"), "--dry-run", "--labels", p("found.txt")});
    EXPECT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(alone.err.find("earlier run"), std::string::npos) << alone.err;

    // Ranges a reviewer cleared keep the words inside them out; the phrase around one is still found.
    for (const std::vector<std::string>& except : {std::vector<std::string>{"--except", "0.9-1.5"},
                                                   std::vector<std::string>{"--except-labels", p("found.txt")}}) {
        std::vector<std::string> args{p("in.wav"), "--dry-run", "--word",         "disposed",
                                      "--word",    "not ill",   "--transcript",   p("t.json"),
                                      "--pad",     "0",         "--write-labels", p("kept.txt")};
        args.insert(args.end(), except.begin(), except.end());
        ASSERT_EQ(mask(args).status, 0);
        EXPECT_EQ(slurp(p("kept.txt")), "0.500000000\t1.400000000\tnot ill (transcript 0.80)\n") << except[0];
    }
}

TEST_F(MaskWords, EveryTranscriptFormatMasksTheWordToTheSample)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 2 * 48000);
    const Audio in = read_audio(p("in.wav"), Kind::Int);
    for (const auto& [name, text] : TRANSCRIPTS) {
        SCOPED_TRACE(name);
        write_text(p(name), text);
        const Result r = mask({p("in.wav"), p("out.wav"), "--word", "damn*", "--pad", "0", "--transcript", p(name)});
        ASSERT_EQ(r.status, 0) << r.err;
        // WhisperX's unaligned "1999" is counted in a warning, and no other format warns of one.
        EXPECT_EQ(r.err.find("whisperx.json: 1 word has no times (WhisperX could not align it)") != std::string::npos,
                  name == std::string("whisperx.json"))
            << r.err;
        expect_masked(in, read_audio(p("out.wav"), Kind::Int), {{48000, 67200}}, 1000, 0.5,
                      SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    }
    // A cue of several words: the whole cue goes, and the user is told.
    write_text(p("long.srt"), "1\n00:00:00,250 --> 00:00:01,500\nOh damn it\n");
    const Result r = mask({p("in.wav"), p("out.wav"), "--word", "damn", "--pad", "0", "--transcript", p("long.srt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("whole"), std::string::npos) << r.err;
    expect_masked(in, read_audio(p("out.wav"), Kind::Int), {{12000, 72000}}, 1000, 0.5,
                  SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

TEST_F(MaskWords, LargeTranscriptsAreReadInBoundedMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own memory does not fit the limit set here";
#endif
    if (access("/usr/bin/prlimit", X_OK) != 0) {
        GTEST_SKIP() << "no /usr/bin/prlimit (util-linux) to limit the program's memory";
    }
    // About 10 MB of Whisper JSON and of SubRip: a transcript held whole, as
    // a document, takes ten times that.
    std::string json = R"({"segments": [{"words": [)";
    std::string srt;
    for (int i = 0; i < 140000; ++i) {
        json += R"({"word": " never", "start": 0.5, "end": 0.6, "probability": 0.9}, )";
        srt += std::to_string(i + 1) + "\n00:00:00,500 --> 00:00:00,600\nnever mind\n\n";
    }
    write_text(p("big.json"), json + R"({"word": " damn!", "start": 0.7, "end": 0.8}]}]})");
    write_text(p("big.srt"), srt + "0\n00:00:00,700 --> 00:00:00,800\ndamn\n");
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 16000);
    for (const char* name : {"big.json", "big.srt"}) {
        const Result r = mask({p("in.wav"), "--dry-run", "--word", "damn", "--pad", "0", "--transcript", p(name),
                               "--write-labels", p("labels.txt")},
                              {}, {"/usr/bin/prlimit", "--data=" + std::to_string(64 << 20), "--"});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const std::vector<Label> labels = read_labels(p("labels.txt"));
        ASSERT_EQ(labels.size(), 1u) << name;
        EXPECT_NEAR(labels[0].start, 0.7, 1e-9);
        EXPECT_NEAR(labels[0].end, 0.8, 1e-9);
    }
}

TEST_F(MaskWords, BadTranscriptsAndWordListsAreRefusedAndNothingIsWritten)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 16000);
    write_text(p("broken.json"), "{\"segments\": [\n  {\"words\": [\n    {\"word\": \"x\", \"start\": 0.1,}\n]}]}");
    write_text(p("late.srt"), "1\n00:00:00,100 --> 00:00:00,200\nfine\n\n2\n00:00:05,000 --> 00:00:05,500\ndamn\n");
    write_text(p("star.txt"), "# words\nfine\nda*mn\n");
    write_text(p("bad.dict"), "zendrikish Z EH N D R IH K XX\n");
    const auto before = snapshot();
    const std::string out = p("out.wav");
    expect_refused(mask({p("in.wav"), out, "--word", "x", "--transcript", p("broken.json")}), 2,
                   "broken.json:3: ", before);
    expect_refused(mask({p("in.wav"), out, "--word", "damn", "--transcript", p("late.srt")}), 2,
                   "late.srt:7: .damn. ends at 5.500 s, past the end", before);
    expect_refused(mask({p("in.wav"), out, "--words", p("star.txt")}), 2, "star.txt:3", before);
    expect_refused(
        mask({p("in.wav"), out, "--word", "fine", "--transcript", p("late.srt"), "--write-labels", p("in.wav")}), 2,
        "--write-labels .* is the same file as the input .*;", before);
    expect_refused(mask({p("in.wav"), out, "--mask", "0-0.5", "--write-labels", (dir / "." / "out.wav").string()}), 2,
                   "--write-labels .* is the same file as the output", before);
    expect_refused(mask({p("in.wav"), out, "--word", "x", "--transcript", p("late.srt"), "--report", p("late.srt")}), 2,
                   "--report .* is the same file as the transcript", before);
    expect_refused(mask({p("in.wav"), out, "--mask", "0-0.5", "--write-labels", p("nowhere/found.txt")}), 1,
                   "--write-labels: ", before);
    expect_refused(mask({p("in.wav"), out, "--word", "zendrikish", "--word", "qwxz*"}), 2,
                   "not in the pronunciation dictionary: 'qwxz\\*'.*--dict", before);
    expect_refused(mask({p("in.wav"), out, "--word", "zendrikish", "--dict", p("bad.dict")}), 2,
                   "'zendrikish'.*phones the acoustic model .* does not have", before);

    // A word no dictionary has: its pronunciation guessed, and shown.
    const Result guessed = mask({p("in.wav"), "--dry-run", "--word", "zendrikish"});
    EXPECT_EQ(guessed.status, 0) << guessed.err;
    EXPECT_NE(guessed.err.find("'zendrikish' is in no pronunciation dictionary: guessed as \"Z EH N D R IH K IH SH\""),
              std::string::npos)
        << guessed.err;

    // A word of one's own, with its pronunciation.
    write_text(p("mine.dict"), "zendrikish Z EH N D R IH K IH SH\n");
    const Result own = mask({p("in.wav"), "--dry-run", "--word", "zendrikish", "--dict", p("mine.dict")});
    EXPECT_EQ(own.status, 0) << own.err;
    EXPECT_NE(own.err.find("'zendrikish' 0"), std::string::npos) << own.err;

    // A list that matches nothing is no error: the file is still written, unmasked.
    write_text(p("fine.srt"), "1\n00:00:00,100 --> 00:00:00,200\nfine\n");
    const Result r = mask({p("in.wav"), out, "--word", "damn", "--transcript", p("fine.srt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("warning: the word to find was not found"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(out), slurp(p("in.wav")));
}

TEST_F(MaskWords, WrittenLabelsReadBackMaskTheSameSamples)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2, 2 * 44100);
    // A word of no length has nothing to bleep: it must not shift the labels of the others.
    write_text(p("t.json"), R"({"segments":[{"words":[{"word":"damn","start":0.5,"end":0.5,"probability":0.5},
        {"word":" damn.","start":1.0,"end":1.4,"probability":0.8}]}]})");
    write_text(p("marks.txt"), "0.1\t0.2\tname\n");
    const Result first = mask({p("in.wav"), p("a.wav"), "--word", "damn", "--transcript", p("t.json"), "--mask",
                               "1.7-1.75", "--labels", p("marks.txt"), "--write-labels", p("found.txt"), "--report",
                               p("report.json"), "--pad", "0"});
    ASSERT_EQ(first.status, 0) << first.err;
    const std::vector<Label> labels = read_labels(p("found.txt"));
    ASSERT_EQ(labels.size(), 3u) << slurp(p("found.txt"));
    EXPECT_EQ(labels[0].text, "damn (transcript 0.80)");
    EXPECT_DOUBLE_EQ(labels[0].start, 1.0);
    EXPECT_EQ(labels[2].text, "name");
    EXPECT_NE(slurp(p("report.json")).find("\"found\": 1"), std::string::npos) << slurp(p("report.json"));

    const Result again = mask({p("in.wav"), p("b.wav"), "--labels", p("found.txt")});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(slurp(p("a.wav")), slurp(p("b.wav")));
    EXPECT_NE(slurp(p("a.wav")), slurp(p("in.wav")));
}

} // namespace mask_test
