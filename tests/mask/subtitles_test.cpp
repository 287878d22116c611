// SPDX-License-Identifier: ISC
// zendrik-mask placing the words of a film's subtitles in its sound: an MKV
// and an MP4 made by ffmpeg from the LibriVox readings of
// pocketsphinx-testdata, with their text as a subtitle stream. Where each
// word was spoken was measured once on the recording, by ear and eye on its
// spectrogram, and is written here; what was bleeped is read back with
// ffmpeg, not with the program under test.
#include "media_harness.h"

namespace mask_test {

namespace {

// The five readings one after another (24.73 s), and where their listed
// words were spoken.
const char* const READINGS[] = {"0870", "0880", "0890", "0920", "0930"};
struct Spoken {
    double start, end;
};
const Spoken DASHWOOD{0.98, 1.58}, SELFISH{12.85, 13.70}, AMIABLE{16.70, 17.30}, CENSORED{23.15, 23.70};

// The readings' text as cues whose edges are off by up to half a second; the
// first holds italics, the second is not what was said, and the last censors
// "amiable".
const char* const CUES
    = "1\n00:00:00,400 --> 00:00:06,700\nAnd Mister John <i>Dashwood</i> had then leisure to consider\n"
      "how much there might be prudently in his power to do for them.\n\n"
      "2\n00:00:07,300 --> 00:00:10,000\nShe was never a damn wicked old woman.\n\n"
      "3\n00:00:10,500 --> 00:00:15,100\nunless to be rather cold-hearted and rather selfish\n"
      "is to be ill-disposed.\n\n"
      "4\n00:00:15,200 --> 00:00:21,800\nHad he married a more amiable woman, he might have been "
      "made\nstill more respectable than he was.\n\n"
      "5\n00:00:21,900 --> 00:00:24,300\nHe might even have been made [ __ ] himself.\n";

class MaskSubtitles : public MaskMedia {
protected:
    void ffmpeg(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/ffmpeg", "-v", "error", "-y"});
        const Result r = finish(spawn(args, logs, {}), logs);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // The readings one after another, and their cues.
    void make_speech()
    {
        std::string join = "sox";
        for (const char* reading : READINGS) {
            join += std::string(" /usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-")
                + reading + ".wav";
        }
        join += " '" + p("speech.wav") + "'";
        ASSERT_EQ(std::system(join.c_str()), 0) << join;
        std::ofstream(p("cues.srt")) << CUES;
    }
    // A film: pictures, the readings in a lossless codec, the cues as subtitles.
    void make_film(const std::string& name, const std::string& audio_codec, const std::string& subtitle_codec)
    {
        make_speech();
        ffmpeg({"-f",
                "lavfi",
                "-i",
                "testsrc=size=64x48:rate=10:duration=24.73",
                "-i",
                p("speech.wav"),
                "-i",
                p("cues.srt"),
                "-map",
                "0",
                "-map",
                "1",
                "-map",
                "2",
                "-c:v",
                "libx264",
                "-preset",
                "ultrafast",
                "-c:a",
                audio_codec,
                "-c:s",
                subtitle_codec,
                "-metadata:s:s:0",
                "language=eng",
                p(name)});
    }
    // Where the output's sound differs from the input's, in seconds: the
    // bleeps, gaps under 10 ms closed (a tone sample may equal the speech's).
    std::vector<Spoken> bleeps(const std::string& in, const std::string& out)
    {
        std::vector<std::vector<int16_t>> sound;
        for (const std::string& file : {in, out}) {
            ffmpeg({"-i", file, "-map", "0:a:0", "-f", "s16le", "-ac", "1", p("decoded.raw")});
            const std::string bytes = slurp(p("decoded.raw"));
            sound.emplace_back(bytes.size() / 2);
            std::memcpy(sound.back().data(), bytes.data(), sound.back().size() * 2);
        }
        EXPECT_EQ(sound[0].size(), sound[1].size());
        std::vector<Spoken> found;
        for (std::size_t i = 0; i < std::min(sound[0].size(), sound[1].size()); ++i) {
            if (sound[0][i] == sound[1][i]) {
                continue;
            }
            const double at = static_cast<double>(i) / 16000;
            if (!found.empty() && at - found.back().end < 0.01) {
                found.back().end = at;
            } else {
                found.push_back({at, at});
            }
        }
        return found;
    }
};

bool covered(const std::vector<Spoken>& bleeps, const Spoken& word)
{
    return std::any_of(bleeps.begin(), bleeps.end(), [&](const Spoken& bleep) {
        return bleep.start <= word.start + 0.12 && bleep.end >= word.end - 0.12;
    });
}

} // namespace

TEST_F(MaskSubtitles, OnlyTheListedWordsAreBleepedNotTheirCues)
{
    for (const auto& [name, audio, subtitles] :
         {std::tuple("film.mkv", "flac", "srt"), std::tuple("film.mp4", "alac", "mov_text")}) {
        SCOPED_TRACE(name);
        make_film(name, audio, subtitles);
        const Result r
            = mask({p(name), p(std::string("out-") + name), "--subtitles", "--word", "dashwood", "--word", "selfish",
                    "--word", "amiable", "--word", "damn", "--pad", "0", "--write-labels", p("labels.txt")});
        ASSERT_EQ(r.status, 0) << r.err;
        // The cue that is not what was said is bleeped whole, and named.
        EXPECT_NE(r.err.find("the cue at 7.300 s \"She was never a damn wicked old woman.\" does not fit the sound"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(slurp(p("labels.txt")).find("dashwood (subtitles, aligned)"), std::string::npos);
        EXPECT_NE(slurp(p("labels.txt")).find("[censored] (subtitles, aligned)"), std::string::npos);

        // ffmpeg resamples both to 16 kHz mono the same way: equal samples are untouched ones.
        const std::vector<Spoken> found = bleeps(p(name), p(std::string("out-") + name));
        for (const Spoken& word : {DASHWOOD, SELFISH, AMIABLE, CENSORED, Spoken{7.4, 9.9}}) {
            EXPECT_TRUE(covered(found, word)) << word.start << " s not bleeped";
        }
        for (const Spoken& bleep : found) {
            const bool fallback = bleep.start >= 7.25 && bleep.end <= 10.05;
            const bool word_sized = bleep.end - bleep.start < 1.0;
            EXPECT_TRUE(fallback || word_sized) << "bleeped " << bleep.start << " to " << bleep.end;
        }
    }
}

TEST_F(MaskSubtitles, BitmapSubtitlesAreReadForNoWordsAndCopiedWithAWarning)
{
    make_film("film.mkv", "flac", "srt");
    // A PGS stream of two empty pictures, as a .sup file holds it: each
    // segment after "PG" and its times at 90 kHz; a composition, then its end.
    std::string sup;
    for (const uint32_t pts : {90000u, 180000u}) {
        std::string times(8, '\0');
        for (int byte = 0; byte < 4; ++byte) {
            times[static_cast<std::size_t>(byte)] = static_cast<char>(pts >> (24 - 8 * byte));
        }
        sup += "PG" + times + std::string("\x16\x00\x0B\x00\x40\x00\x30\x10\x00\x00\x80\x00\x00\x00", 14);
        sup += "PG" + times + std::string("\x80\x00\x00", 3);
    }
    std::ofstream(p("pictures.sup"), std::ios::binary) << sup;
    tool({"-i", p("film.mkv"), "-i", p("pictures.sup"), "-map", "0:v", "-map", "0:a", "-map", "1", "-c", "copy",
          p("pgs.mkv")});

    const auto before = snapshot();
    expect_refused(mask({p("pgs.mkv"), p("out.mkv"), "--word", "damn", "--subtitles"}), 2,
                   "--subtitles: stream 2 of .* is hdmv_pgs_subtitle, subtitles drawn as pictures", before);
    expect_refused(mask({p("film.mkv"), p("out.mkv"), "--word", "damn", "--subtitles", "fre"}), 2,
                   "--subtitles fre: no subtitle stream", before);
    expect_refused(mask({p("film.mkv"), p("out.mkv"), "--word", "damn", "--transcript", p("film.mkv")}), 2,
                   "is a media file, not a transcript; .* give --subtitles", before);

    // Masked from a transcript, the pictures are copied, with a warning.
    const Result r = mask({p("pgs.mkv"), p("out.mkv"), "--word", "dashwood", "--transcript", p("cues.srt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("subtitle stream 2 (hdmv_pgs_subtitle) is drawn as pictures and copied as it is"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(packets(p("out.mkv"), 2), packets(p("pgs.mkv"), 2));
}

// Every line of `text` that `other` does not hold at the same place.
std::size_t lines_changed(const std::string& text, const std::string& other)
{
    std::istringstream a(text), b(other);
    std::size_t changed = 0;
    for (std::string left, right; std::getline(a, left) && std::getline(b, right);) {
        changed += left != right ? 1U : 0U;
    }
    return changed;
}

TEST_F(MaskSubtitles, TheSubtitleStreamShowsTheMaskWhereTheWordsWere)
{
    for (const auto& [name, audio, subtitles] :
         {std::tuple("film.mkv", "flac", "srt"), std::tuple("film.mp4", "alac", "mov_text")}) {
        SCOPED_TRACE(name);
        make_film(name, audio, subtitles);
        const std::string out = p(std::string("out-") + name);
        // Dashwood and selfish aligned, damn in a cue bleeped whole; the
        // italics around Dashwood (mov_text's style box) stay around the mask.
        const Result r = mask(
            {p(name), out, "--subtitles", "--word", "dashwood", "--word", "selfish", "--word", "damn", "--pad", "0"});
        ASSERT_EQ(r.status, 0) << r.err;
        tool({"-i", p(name), "-map", "0:s:0", p("in.srt")});
        tool({"-i", out, "-map", "0:s:0", p("out.srt")});
        std::string expected = slurp(p("in.srt"));
        for (const std::string word : {"Dashwood", "damn", "selfish"}) {
            expected.replace(expected.find(word), word.size(), "****");
        }
        EXPECT_EQ(slurp(p("out.srt")), expected);
        // The pictures, and the cues that held no find, packet for packet.
        EXPECT_EQ(packets(out, 0), packets(p(name), 0));
        const std::string cues = packets(out, 2), input_cues = packets(p(name), 2);
        EXPECT_EQ(std::count(cues.begin(), cues.end(), '\n'), std::count(input_cues.begin(), input_cues.end(), '\n'));
        EXPECT_EQ(lines_changed(cues, input_cues), 3u);
    }
}

TEST_F(MaskSubtitles, AnAssOverrideTagStaysAroundTheMaskedWord)
{
    make_film("film.mkv", "flac", "srt");
    std::ofstream(p("cues.ass"))
        << "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, Bold\n"
           "Style: Default,Arial,20,&H00FFFFFF,0\n\n[Events]\n"
           "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
           "Dialogue: 0,0:00:00.40,0:00:06.70,Default,,0,0,0,,{\\pos(10,20)}And Mister John {\\i1}Dashwood{\\i0} "
           "had then\\Nleisure to consider\n"
           "Dialogue: 0,0:00:15.20,0:00:21.80,Default,,0,0,0,,Had he married a more amiable woman\n";
    tool({"-i", p("film.mkv"), "-i", p("cues.ass"), "-map", "0:v", "-map", "0:a", "-map", "1", "-c", "copy", "-c:s",
          "ass", p("ass.mkv")});
    const Result r = mask(
        {p("ass.mkv"), p("out.mkv"), "--subtitles", "--word", "dashwood", "--subtitle-mask", "initial", "--pad", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    tool({"-i", p("ass.mkv"), "-map", "0:s:0", "-c", "copy", p("in.ass")});
    tool({"-i", p("out.mkv"), "-map", "0:s:0", "-c", "copy", p("out.ass")});
    std::string expected = slurp(p("in.ass"));
    ASSERT_NE(expected.find("{\\i1}Dashwood{\\i0}"), std::string::npos) << expected;
    expected.replace(expected.find("{\\i1}Dashwood{\\i0}"), 18, "{\\i1}D*******{\\i0}");
    EXPECT_EQ(slurp(p("out.ass")), expected);
}

TEST_F(MaskSubtitles, WriteSubtitlesCleansTheSubtitlesRead)
{
    make_speech();
    const Result r = mask({p("speech.wav"), p("out.wav"), "--transcript", p("cues.srt"), "--word", "dashwood", "--word",
                           "wicked old", "--subtitle-mask", "[bleep]", "--write-subtitles", p("clean.srt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(p("clean.srt")),
              "1\n00:00:00,400 --> 00:00:06,700\nAnd Mister John <i>[bleep]</i> had then leisure to consider\n"
              "how much there might be prudently in his power to do for them.\n\n"
              "2\n00:00:07,300 --> 00:00:10,000\nShe was never a damn [bleep] [bleep] woman.\n\n"
              "3\n00:00:10,500 --> 00:00:15,100\nunless to be rather cold-hearted and rather selfish\n"
              "is to be ill-disposed.\n\n"
              "4\n00:00:15,200 --> 00:00:21,800\nHad he married a more amiable woman, he might have been "
              "made\nstill more respectable than he was.\n\n"
              "5\n00:00:21,900 --> 00:00:24,300\nHe might even have been made [ __ ] himself.\n");

    const auto before = snapshot();
    expect_refused(mask({p("speech.wav"), p("out2.wav"), "--transcript", p("cues.srt"), "--word", "damn",
                         "--write-subtitles", p("cues.srt")}),
                   2, "--write-subtitles .* is the same file as the transcript", before);
    expect_refused(mask({p("speech.wav"), p("out2.wav"), "--word", "damn", "--write-subtitles", p("new.srt")}), 2,
                   "--write-subtitles writes the subtitles read cleaned: give --subtitles", before);
    expect_refused(mask({p("speech.wav"), p("out2.wav"), "--transcript", p("gone.srt"), "--word", "damn",
                         "--write-subtitles", p("new.srt")}),
                   2, "cannot read transcript .*gone.srt.*: No such file", before);
}

TEST_F(MaskSubtitles, WriteSubtitlesEndsEachCueWhereTheTranscriptReaderDoes)
{
    // A tone: each cue holding a listed word is bleeped whole, at its times.
    const std::string tone = "sox -n -r 16000 -c 1 '" + p("tone.wav") + "' synth 10 sine 440";
    ASSERT_EQ(std::system(tone.c_str()), 0) << tone;
    // SubRip without the blank line before its second cue; WebVTT whose first
    // cue holds a line of spaces.
    const std::string srt = "1\n00:00:00,500 --> 00:00:02,500\nHello\n2\n00:00:06,000 --> 00:00:08,000\nThe damn end\n";
    const std::string vtt = "WEBVTT\n\n00:00.500 --> 00:02.500\nHello\n  \ndamn it\n\n00:06.000 --> 00:08.000\nNo\n";
    // SubRip whose first cue has no number, after a byte order mark.
    const std::string bom
        = "\xEF\xBB\xBF"
          "00:00:06,000 --> 00:00:08,000\nThe damn end\n";
    for (const auto& [name, text] :
         {std::pair("cues.srt", srt), std::pair("cues.vtt", vtt), std::pair("bom.srt", bom)}) {
        std::ofstream(p(name)) << text;
        const Result r = mask({p("tone.wav"), p(std::string("out-") + name + ".wav"), "--transcript", p(name), "--word",
                               "damn", "--write-subtitles", p(std::string("clean-") + name)});
        ASSERT_EQ(r.status, 0) << r.err;
        std::string expected = text;
        expected.replace(expected.find("damn"), 4, "****");
        EXPECT_EQ(slurp(p(std::string("clean-") + name)), expected);
    }
}

TEST_F(MaskSubtitles, AMovTextStyleRunningPastTheTextStillDoesAfterALongerMask)
{
    const std::string tone = "sox -n -r 16000 -c 1 '" + p("tone.wav") + "' synth 10 sine 440";
    ASSERT_EQ(std::system(tone.c_str()), 0) << tone;
    std::ofstream(p("cue.srt")) << "1\n00:00:06,000 --> 00:00:08,000\nThe <i>damn end</i>\n";
    tool({"-i", p("tone.wav"), "-i", p("cue.srt"), "-c:a", "alac", "-c:s", "mov_text", p("styled.mp4")});
    // The italics end at the last offset there is, past the text.
    std::string bytes = slurp(p("styled.mp4"));
    const std::size_t style = bytes.find("styl");
    ASSERT_NE(style, std::string::npos);
    bytes.replace(style + 8, 2, "\xFF\xFF");
    std::ofstream(p("past.mp4"), std::ios::binary) << bytes;
    const Result r = mask(
        {p("past.mp4"), p("out.mp4"), "--transcript", p("cue.srt"), "--word", "damn", "--subtitle-mask", "[beeeeeep]"});
    ASSERT_EQ(r.status, 0) << r.err;
    tool({"-i", p("out.mp4"), "-map", "0:s", "-f", "ass", p("out.ass")});
    EXPECT_NE(slurp(p("out.ass")).find(",The {\\i1}[beeeeeep] end"), std::string::npos) << slurp(p("out.ass"));
}

} // namespace mask_test
