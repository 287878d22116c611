// SPDX-License-Identifier: ISC
// zendrik-mask on video that is odd or damaged: holes in the timestamps,
// damage and cuts, late starts, attachments, encoder delays. Files made by
// ffmpeg, outputs read with ffprobe and ffmpeg's decoders.
#include "media_harness.h"

namespace mask_test {

namespace {

constexpr std::size_t RATE = 48000;

TEST_F(MaskMedia, AHoleInTheSoundsTimestampsStaysWhereItIs)
{
    // 10 s of sound whose timestamps jump from 4 s to 6 s.
    make_clip("gap.mkv", {"-af", "asetpts='if(gte(T,4),PTS+2/TB,PTS)'", "-c:a", "flac"}, 10);
    const Result r = mask({p("gap.mkv"), p("out.mkv"), "--mask", "7-8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("filled with silence"), std::string::npos) << r.err;
    // ffmpeg decodes the input's samples end to end, the output's as they play.
    const std::vector<float> in = decode<float>(p("gap.mkv"), 1), out = decode<float>(p("out.mkv"), 1);
    ASSERT_NEAR(static_cast<double>(out.size()), 12.0 * RATE, RATE / 50);
    int64_t wrong = 0;
    for (std::size_t i = 0; i < 11 * RATE; ++i) {
        const std::size_t played = i < 6 * RATE ? i : i - 2 * RATE;
        if (i >= 7 * RATE && i < 8 * RATE) {
            wrong += std::fabs(out[i]) > TONE_LEVEL + 0.01 ? 1 : 0;
        } else if (i >= 4 * RATE + 1536 && i < 6 * RATE) {
            wrong += out[i] != 0.0f ? 1 : 0;
        } else if (i < 4 * RATE || i >= 6 * RATE + 4608) {
            wrong += out[i] != in[played] ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(*std::max_element(out.begin() + 7 * RATE, out.begin() + 8 * RATE), 0.49f);
    // The word finder hears the hole too: "dashwood", read at 0.98 s, plays 2 s later.
    tool({"-f", "lavfi", "-i", "color=black:size=64x48:rate=10:duration=5", "-i", ZENDRIK_MASK_SPEECH, "-t", "5", "-af",
          "asetpts='if(gte(T,0.5),PTS+2/TB,PTS)'", "-c:v", "libx264", "-c:a", "flac", p("speech.mkv")});
    ASSERT_EQ(
        mask({p("speech.mkv"), "--dry-run", "--word", "dashwood", "--pad", "0", "--write-edl", p("found.edl")}).status,
        0);
    double start = 0;
    std::istringstream(slurp(p("found.edl"))) >> start;
    EXPECT_NEAR(start, 2.98, 0.2);
}

TEST_F(MaskMedia, DamageCutsAndImpossibleIndexesAreRefusedNamingTheInput)
{
    make_clip("clip.mkv", {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}, 10);
    make_clip("clip.webm", {"-c:v", "libvpx", "-c:a", "libopus"}, 10);
    make_clip("clip.mp4", {"-c:a", "aac", "-movflags", "frag_keyframe+empty_moov"});
    make_clip("whole.mp4", {"-c:a", "aac"});
    const auto write
        = [&](const std::string& name, const std::string& bytes) { std::ofstream(p(name), std::ios::binary) << bytes; };
    for (const std::string name : {"clip.mkv", "clip.webm"}) {
        std::string bytes = slurp(p(name));
        write("cut-" + name, bytes.substr(0, bytes.size() * 95 / 100));
        write("damaged-" + name, bytes.replace(bytes.size() / 2, 20480, std::string(20480, '\0')));
    }
    // Cut before the first fragment; the sixth picture 2 GB by the index.
    write("fragments-cut.mp4", slurp(p("clip.mp4")).substr(0, slurp(p("clip.mp4")).find("moof") - 4));
    std::string bytes = slurp(p("whole.mp4"));
    write("huge-sample.mp4", bytes.replace(bytes.find("stsz") + 12 + 4 * 6, 4, "\x7f\xff\xff\xff"));
    const auto before = snapshot();
    for (const std::string name : {"damaged-clip.mkv", "damaged-clip.webm", "cut-clip.mkv", "cut-clip.webm",
                                   "fragments-cut.mp4", "huge-sample.mp4"}) {
        SCOPED_TRACE(name);
        expect_refused(mask({p(name), p("out-" + name), "--mask", "1-2", "-q"}), 2,
                       "input '.*" + name + "' is (damaged or cut short|truncated or damaged)", before);
    }
}

TEST_F(MaskMedia, FilesThatStartLateOrFindStreamsLateAreWholeAndTimedFromTheirStart)
{
    make_clip("capture.ts", {"-c:a", "mp2"}, 10);
    tool({"-copyts", "-i", p("capture.ts"), "-c", "copy", p("copyts.mkv")});
    make_clip("offset.mkv", {"-c:a", "flac", "-output_ts_offset", "100"}, 10);
    make_clip("offset.mov", {"-c:a", "pcm_s16le", "-output_ts_offset", "5"}, 10);
    make_clip("late.mkv", {"-c:a", "flac", "-output_ts_offset", "0.9"}, 10);
    // And readers that find their streams as packets come.
    make_clip("in.flv", {"-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "44100"}, 10);
    make_clip("in.mpg", {"-c:v", "mpeg2video", "-c:a", "mp2"}, 10);
    for (const std::string name : {"copyts.mkv", "offset.mkv", "offset.mov", "late.mkv", "in.flv", "in.mpg"}) {
        SCOPED_TRACE(name);
        const Result r = mask({p(name), p("out-" + name), "--mask", "9.5-12"});
        EXPECT_EQ(r.status, 0) << r.err;
        // What is shown runs from 0 to 10 s, whatever the timestamps say.
        EXPECT_TRUE(std::regex_search(r.err, std::regex("past the end of the input \\(10\\.0[0-9]{2} s\\)"))) << r.err;
        const std::string entries = "stream=index,start_time:format=start_time";
        EXPECT_EQ(probe({"-show_entries", entries, p("out-" + name)}), probe({"-show_entries", entries, p(name)}));
    }
}

// Matroska's odd parts: cover art as an attachment, PCM of an unknown layout.
TEST_F(MaskMedia, MatroskaAttachmentsAndPcmOfNoLayoutComeThroughEveryLosslessFormat)
{
    tool({"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1", p("cover.png")});
    make_clip("in.mkv",
              {"-ac", "1", "-c:a", "pcm_s16le", "-attach", p("cover.png"), "-metadata:s:t", "mimetype=image/png"});
    const std::vector<int32_t> in = decode<int32_t>(p("in.mkv"), 1);
    const std::string entries = "stream=codec_type,codec_name:stream_tags:stream_disposition=attached_pic";
    for (const std::string codec : {"pcm24", "pcm32", "float", "alac"}) {
        SCOPED_TRACE(codec);
        const Result r = mask({p("in.mkv"), p(codec + ".mkv"), "--format", ":" + codec, "--mask", "1-1.5"});
        ASSERT_EQ(r.status, 0) << r.err;
        // FFmpeg reads an image attachment as a picture stream of one packet.
        EXPECT_EQ(probe({"-select_streams", "2", "-show_entries", entries, p(codec + ".mkv")}),
                  probe({"-select_streams", "2", "-show_entries", entries, p("in.mkv")}));
        EXPECT_EQ(packets(p(codec + ".mkv"), 2), packets(p("in.mkv"), 2));
        const std::vector<int32_t> out = decode<int32_t>(p(codec + ".mkv"), 1);
        ASSERT_EQ(out.size(), in.size());
        EXPECT_TRUE(std::equal(in.begin(), in.begin() + RATE, out.begin()));
        EXPECT_TRUE(std::equal(in.begin() + RATE * 3 / 2, in.end(), out.begin() + RATE * 3 / 2));
        EXPECT_GT(*std::max_element(out.begin() + RATE, out.begin() + RATE * 3 / 2), INT32_MAX / 4);
    }
}

// Each pass encodes the sound again, the encoder's delay ahead of it and its
// last frame padded.
TEST_F(MaskMedia, LossyCodecsKeepTheirStartSyncAndLengthPassAfterPass)
{
    const auto onset = [&](const std::string& file) {
        const std::vector<float> sound = decode<float>(file, 1);
        const auto loud = std::find_if(sound.begin(), sound.end(), [](float x) { return std::fabs(x) > 0.05f; });
        return static_cast<double>(loud - sound.begin()) / RATE;
    };
    const auto length = [&](const std::string& file) {
        return std::stod(probe({"-show_entries", "format=duration", "-of", "csv=p=0", file}));
    };
    const auto start = [&](const std::string& file) {
        return probe({"-select_streams", "a", "-show_entries", "stream=start_time", file});
    };
    for (const std::string codec : {"aac", "ac3", "eac3", "libmp3lame", "libopus", "libvorbis"}) {
        SCOPED_TRACE(codec);
        // Silence, then the sine from 1.5 s.
        make_clip("pass0.mkv", {"-af", "volume='if(gte(t,1.5),1,0)':eval=frame", "-c:a", codec});
        for (const std::string pass : {"1", "2"}) {
            const std::string last = pass == "1" ? "pass0.mkv" : "pass1.mkv";
            ASSERT_EQ(mask({p(last), p("pass" + pass + ".mkv"), "--mask", "2.5-2.6"}).status, 0);
        }
        EXPECT_EQ(start(p("pass2.mkv")), start(p("pass0.mkv")));
        EXPECT_NEAR(onset(p("pass2.mkv")), onset(p("pass0.mkv")), 0.001);
        EXPECT_NEAR(length(p("pass2.mkv")), length(p("pass0.mkv")), 0.0015); // Matroska's milliseconds
    }
}

} // namespace

} // namespace mask_test
