// SPDX-License-Identifier: ISC
// zendrik-mask end to end on video and on the audio containers libsndfile
// cannot read: files made by ffmpeg in the test, checked with ffprobe and
// ffmpeg's decoders, never with the program under test.
#include "media_harness.h"

#include <array>

namespace mask_test {

namespace {

// Every sample of a lossless stream outside [start, end) as it was; inside,
// the reference tone from phase 0 at `start`, one step of the depth off at
// most (the module's sine may be another library's).
void expect_exact_with_tone(const std::vector<int32_t>& in, const std::vector<int32_t>& out, int64_t start, int64_t end,
                            double rate, int bits)
{
    ASSERT_EQ(in.size(), out.size());
    const std::vector<float> tone = reference_burst(static_cast<std::size_t>(end - start), TONE_HZ, TONE_LEVEL, rate);
    const double scale = std::ldexp(1.0, bits - 1);
    const int64_t step = int64_t{1} << (32 - bits);
    int64_t wrong = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto at = static_cast<int64_t>(i);
        if (at < start || at >= end) {
            wrong += out[i] != in[i] ? 1 : 0;
        } else {
            const double q
                = std::clamp(std::nearbyint(tone[static_cast<std::size_t>(at - start)] * scale), -scale, scale - 1);
            wrong += std::llabs(static_cast<int64_t>(q) * step - out[i]) > step ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(MaskMedia, OtherStreamsAreCopiedPacketForPacketWithTheirMetadata)
{
    tool({"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1", p("cover.png")});
    std::ofstream(p("s.srt")) << "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n2\n00:00:02,000 --> 00:00:02,500\nBye\n";
    std::ofstream(p("chapters.txt"))
        << ";FFMETADATA1\ntitle=Clip\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=One\n"
           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Two\n";
    tool({"-f",
          "lavfi",
          "-i",
          "testsrc=size=96x64:rate=25:duration=3",
          "-f",
          "lavfi",
          "-i",
          "sine=frequency=440:sample_rate=48000:duration=3",
          "-f",
          "lavfi",
          "-i",
          "sine=frequency=660:sample_rate=44100:duration=3",
          "-i",
          p("s.srt"),
          "-i",
          p("chapters.txt"),
          "-i",
          p("cover.png"),
          "-map",
          "0",
          "-map",
          "1",
          "-map",
          "2",
          "-map",
          "3",
          "-map",
          "5",
          "-map_metadata",
          "4",
          "-map_chapters",
          "4",
          "-c:v:0",
          "libx264",
          "-preset",
          "ultrafast",
          "-c:a:0",
          "aac",
          "-c:a:1",
          "alac",
          "-c:s",
          "mov_text",
          "-c:v:1",
          "png",
          "-disposition:v:1",
          "attached_pic",
          "-metadata:s:a:1",
          "language=fre",
          "-disposition:a:1",
          "0",
          p("in.mp4")});
    const Result r = mask({p("in.mp4"), p("out.mp4"), "--mask", "1-2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("audio stream 1 (aac) is encoded again whole"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("stream 2"), std::string::npos) << "ALAC stays lossless: " << r.err;

    const std::string entries
        = "stream=index,codec_name,codec_tag_string,sample_rate,channels,start_time,duration:"
          "stream_tags=language,handler_name:stream_disposition:chapter=start_time,end_time:"
          "chapter_tags:format=start_time,duration:format_tags=title";
    EXPECT_EQ(probe({"-show_entries", entries, p("out.mp4")}), probe({"-show_entries", entries, p("in.mp4")}));
    for (const int stream : {0, 3, 5}) { // video, subtitles, cover
        EXPECT_EQ(packets(p("out.mp4"), stream), packets(p("in.mp4"), stream)) << "stream " << stream;
    }
    // Both audio streams are masked: the ALAC exactly, at the same presentation times.
    expect_exact_with_tone(decode<int32_t>(p("in.mp4"), 2), decode<int32_t>(p("out.mp4"), 2), 44100, 88200, 44100, 16);
}

TEST_F(MaskMedia, LosslessAudioIsExactOutsideTheRangesInEveryContainer)
{
    struct Case {
        std::string name;
        std::vector<std::string> audio;
        int bits;
    };
    const std::vector<Case> cases = {
        {"alac.m4a", {"-vn", "-c:a", "alac"}, 16},
        {"flac.mkv", {"-c:a", "flac", "-sample_fmt", "s32", "-bits_per_raw_sample", "24"}, 24},
        {"pcm.mov", {"-c:a", "pcm_s24le"}, 24},
    };
    for (const Case& c : cases) {
        make_clip(c.name, c.audio);
        const Result r = mask({p(c.name), p("out-" + c.name), "--mask", "0.5-1.25", "--mask", "2-2.5"});
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        const int stream = c.name == "alac.m4a" ? 0 : 1;
        const std::vector<int32_t> in = decode<int32_t>(p(c.name), stream);
        const std::vector<int32_t> out = decode<int32_t>(p("out-" + c.name), stream);
        SCOPED_TRACE(c.name);
        std::vector<int32_t> first(out.begin(), out.begin() + 96000);
        expect_exact_with_tone({in.begin(), in.begin() + 96000}, first, 24000, 60000, 48000, c.bits);
        expect_exact_with_tone({in.begin() + 96000, in.end()}, {out.begin() + 96000, out.end()}, 0, 24000, 48000,
                               c.bits);
        EXPECT_EQ(
            probe({"-show_entries", "stream=codec_name,bits_per_raw_sample,start_time,duration", p(c.name)}),
            probe({"-show_entries", "stream=codec_name,bits_per_raw_sample,start_time,duration", p("out-" + c.name)}));
    }
}

TEST_F(MaskMedia, LossyAudioKeepsItsCodecTimesAndSyncWithTheToneOnTheRange)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases
        = {{"aac.mp4", {"-c:a", "aac", "-b:a", "128k"}}, {"opus.mkv", {"-c:a", "libopus", "-b:a", "96k"}}};
    for (const auto& [name, audio] : cases) {
        SCOPED_TRACE(name);
        make_clip(name, audio);
        const Result r = mask({p(name), p("out-" + name), "--mask", "1-2"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string entries = "stream=index,codec_name,sample_rate,channels,start_time:format=start_time";
        EXPECT_EQ(probe({"-show_entries", entries, p("out-" + name)}), probe({"-show_entries", entries, p(name)}));
        EXPECT_EQ(packets(p("out-" + name), 0), packets(p(name), 0));
        const std::vector<float> in = decode<float>(p(name), 1);
        const std::vector<float> out = decode<float>(p("out-" + name), 1);
        ASSERT_NEAR(static_cast<double>(out.size()), static_cast<double>(in.size()), 48.0); // a millisecond
        // Where the output leaves the 1/8 full scale input for the tone of 1/2: the range, within 5 ms.
        std::vector<std::size_t> changed;
        for (std::size_t i = 0; i < std::min(in.size(), out.size()); ++i) {
            if (std::fabs(out[i]) > 0.3f) {
                changed.push_back(i);
            }
        }
        ASSERT_FALSE(changed.empty());
        EXPECT_NEAR(static_cast<double>(changed.front()) / 48000, 1.0, 0.005);
        EXPECT_NEAR(static_cast<double>(changed.back()) / 48000, 2.0, 0.005);
        double error = 0;
        std::size_t counted = 0;
        for (std::size_t i = 0; i < std::min(in.size(), out.size()); ++i) {
            const double t = static_cast<double>(i) / 48000;
            if ((t > 0.1 && t < 0.9) || (t > 2.1 && t < 2.9)) {
                error += (out[i] - in[i]) * (out[i] - in[i]);
                ++counted;
            }
        }
        EXPECT_LT(std::sqrt(error / static_cast<double>(counted)), 0.01) << "of a sine at 0.125";
    }
}

TEST_F(MaskMedia, FormatWritesTheSoundLosslesslyAsDecodedAndRefusesWhatTheContainerCannotHold)
{
    // Output name, --format, codec written.
    const std::vector<std::array<std::string, 3>> cases
        = {{"out.mkv", "mkv", "flac"}, {"out.mp4", "alac", "alac"}, {"out.mov", "mov:pcm24", "pcm_s24le"}};
    make_clip("aac.mkv", {"-c:a", "aac"});
    make_clip("aac.mp4", {"-c:a", "aac"});
    for (const auto& [name, format, codec] : cases) {
        SCOPED_TRACE(name);
        const std::string in = p(name == "out.mkv" ? "aac.mkv" : "aac.mp4");
        const Result r = mask({in, p(name), "--format", format, "--mask", "1-2"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("encoded again whole"), std::string::npos) << r.err;
        EXPECT_EQ(probe({"-show_entries", "stream=codec_name", "-select_streams", "a", p(name)}),
                  "stream|codec_name=" + codec + "\n");
        if (name != "out.mov") {
            EXPECT_EQ(packets(p(name), 0), packets(in, 0));
        }
        // Outside the range, the input as ffmpeg decodes it, to the 24 bits kept.
        const std::vector<float> decoded = decode<float>(in, 1);
        const std::vector<float> out = decode<float>(p(name), 1);
        ASSERT_GE(out.size(), 144000U);
        int64_t wrong = 0;
        for (std::size_t i = 0; i < 144000; ++i) {
            const bool inside = i >= 48000 && i < 96000;
            wrong += inside ? (std::fabs(out[i]) > 0.51f ? 1 : 0) : (std::fabs(out[i] - decoded[i]) > 0x1p-23f ? 1 : 0);
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(*std::max_element(out.begin() + 48000, out.begin() + 96000), 0.49f);
    }
    const auto before = snapshot();
    expect_refused(mask({p("aac.mp4"), p("refused.mkv"), "--format", ":opus", "--mask", "1-2"}), 2,
                   "--format :opus: .* a lossless one \\(flac, alac, .*\\), not 'opus'", before);
    expect_refused(mask({p("aac.mp4"), p("refused.mov"), "--format", "flac", "--mask", "1-2"}), 2,
                   "--format flac: mov cannot hold flac audio", before);
    expect_refused(mask({p("aac.mp4"), p("refused.mp4"), "--format", "mkv", "--mask", "1-2"}), 2,
                   "--format mkv names the matroska container, but '.*refused.mp4' is written as mp4", before);
}

TEST_F(MaskMedia, CutShortAndUnreadableFilesAreRefusedLeavingTheFolder)
{
    make_clip("whole.mp4", {"-c:a", "aac", "-movflags", "+faststart"});
    make_clip("whole.mkv", {"-c:a", "libopus"});
    for (const std::string name : {"whole.mp4", "whole.mkv"}) {
        const std::string bytes = slurp(p(name));
        std::ofstream(p("cut-" + name), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    std::ofstream(p("x.wma"), std::ios::binary) << std::string(4096, '\x5a');
    const auto before = snapshot();
    expect_refused(mask({p("cut-whole.mp4"), p("out.mp4"), "--mask", "0-1", "-q"}), 2, "is truncated or damaged",
                   before);
    expect_refused(mask({p("cut-whole.mkv"), p("out.mkv"), "--mask", "0-1", "-q"}), 2, "is truncated or damaged",
                   before);
    expect_refused(mask({p("x.wma"), p("out.wma"), "--mask", "0-1"}), 2,
                   "cannot read input '.*x.wma': no reader for this format; convert it with ffmpeg -i .*x.wma .*x.flac",
                   before);
}

TEST_F(MaskMedia, WordsAreFoundInTheSoundOfAVideo)
{
    tool({"-f", "lavfi", "-i", "color=black:size=64x48:rate=10", "-i", ZENDRIK_MASK_SPEECH, "-t", "3", "-c:v",
          "libx264", "-preset", "ultrafast", "-c:a", "aac", "-shortest", p("speech.mp4")});
    const Result r = mask(
        {p("speech.mp4"), "--dry-run", "--word", "dashwood", "--pad", "0", "--write-edl", p("found.edl"), "-j", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    double start = 0, end = 0;
    int action = 0;
    std::istringstream(slurp(p("found.edl"))) >> start >> end >> action;
    // "dashwood" is spoken from 0.98 to 1.58 s.
    EXPECT_LT(start, 1.2);
    EXPECT_GT(end, 1.4);
    EXPECT_EQ(action, 1);
}

TEST_F(MaskMedia, WordsAreFoundInEveryMaskedAudioStream)
{
    // The reading only in the second audio stream, a tone in the first.
    tool({"-f",        "lavfi",
          "-i",        "color=black:size=64x48:rate=10:duration=3",
          "-f",        "lavfi",
          "-i",        "sine=frequency=440:duration=3",
          "-i",        ZENDRIK_MASK_SPEECH,
          "-map",      "0",
          "-map",      "1",
          "-map",      "2",
          "-t",        "3",
          "-c:v",      "libx264",
          "-preset",   "ultrafast",
          "-c:a",      "flac",
          p("two.mkv")});
    const Result r = mask({p("two.mkv"), "--dry-run", "--word", "dashwood", "--pad", "0", "--write-edl", p("found.edl"),
                           "--write-labels", p("found.txt"), "-j", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    double start = 0, end = 0;
    std::istringstream(slurp(p("found.edl"))) >> start >> end;
    EXPECT_LT(start, 1.2);
    EXPECT_GT(end, 1.4);
    EXPECT_NE(slurp(p("found.txt")).find("dashwood (recogniser"), std::string::npos);
    EXPECT_NE(slurp(p("found.txt")).find(", stream 2)"), std::string::npos) << slurp(p("found.txt"));
}

} // namespace

} // namespace mask_test
