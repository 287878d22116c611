// SPDX-License-Identifier: ISC
// zendrik-mask placing the words of a film's subtitles in its sound: an MKV
// and an MP4 made by ffmpeg from the LibriVox readings of
// pocketsphinx-testdata, with their text as a subtitle stream. Where each
// word was spoken was measured once on the recording, by ear and eye on its
// spectrogram, and is written here; what was bleeped is read back with
// ffmpeg, not with the program under test.
#include "cli_harness.h"

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
// second is not what was said, and the last censors "amiable".
const char* const CUES
    = "1\n00:00:00,400 --> 00:00:06,700\nAnd Mister John Dashwood had then leisure to consider\n"
      "how much there might be prudently in his power to do for them.\n\n"
      "2\n00:00:07,300 --> 00:00:10,000\nShe was never a damn wicked old woman.\n\n"
      "3\n00:00:10,500 --> 00:00:15,100\nunless to be rather cold-hearted and rather selfish\n"
      "is to be ill-disposed.\n\n"
      "4\n00:00:15,200 --> 00:00:21,800\nHad he married a more amiable woman, he might have been "
      "made\nstill more respectable than he was.\n\n"
      "5\n00:00:21,900 --> 00:00:24,300\nHe might even have been made [ __ ] himself.\n";

class MaskSubtitles : public MaskCli {
protected:
    void ffmpeg(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/ffmpeg", "-v", "error", "-y"});
        const Result r = finish(spawn(args, logs, {}), logs);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // A film: pictures, the readings in a lossless codec, the cues as subtitles.
    void make_film(const std::string& name, const std::string& audio_codec, const std::string& subtitle_codec)
    {
        std::string join = "sox";
        for (const char* reading : READINGS) {
            join += std::string(" /usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-")
                + reading + ".wav";
        }
        join += " '" + p("speech.wav") + "'";
        ASSERT_EQ(std::system(join.c_str()), 0) << join;
        std::ofstream(p("cues.srt")) << CUES;
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

TEST_F(MaskSubtitles, BitmapSubtitlesAndAFilmGivenAsATranscriptAreRefused)
{
    make_film("film.mkv", "flac", "srt");
    // The SubRip stream declared a PGS one: Matroska pads a codec name with zeros.
    std::string bytes = slurp(p("film.mkv"));
    const std::size_t codec = bytes.find("S_TEXT/UTF8");
    ASSERT_NE(codec, std::string::npos);
    bytes.replace(codec, 11, std::string("S_HDMV/PGS\0", 11));
    std::ofstream(p("pgs.mkv"), std::ios::binary) << bytes;

    const auto before = snapshot();
    expect_refused(mask({p("pgs.mkv"), p("out.mkv"), "--word", "damn", "--subtitles"}), 2,
                   "--subtitles: stream 2 of .* is hdmv_pgs_subtitle, subtitles drawn as pictures", before);
    expect_refused(mask({p("film.mkv"), p("out.mkv"), "--word", "damn", "--subtitles", "fre"}), 2,
                   "--subtitles fre: no subtitle stream", before);
    expect_refused(mask({p("film.mkv"), p("out.mkv"), "--word", "damn", "--transcript", p("film.mkv")}), 2,
                   "is a media file, not a transcript; .* give --subtitles", before);
}

} // namespace mask_test
