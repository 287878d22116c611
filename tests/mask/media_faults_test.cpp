// SPDX-License-Identifier: ISC
// zendrik-mask on video that is odd or damaged: holes in the timestamps,
// damage and cuts, late starts, attachments, encoder delays. Files made by
// ffmpeg, outputs read with ffprobe and ffmpeg's decoders.
#include "media_harness.h"

namespace mask_test {

namespace {

constexpr int RATE = 48000;

// 10 s of picture over 8 s of a 300 Hz sine at 1/8, which jumps from 4 s to 6 s.
const std::vector<std::string> GAP_CLIP = {"-f",   "lavfi",
                                           "-i",   "testsrc=size=96x64:rate=25:duration=10",
                                           "-f",   "lavfi",
                                           "-i",   "sine=frequency=300:sample_rate=48000:duration=8",
                                           "-af",  "asetpts='if(gte(T,4),PTS+2/TB,PTS)'",
                                           "-c:v", "mpeg4",
                                           "-c:a", "flac"};

TEST_F(MaskMedia, AHoleInTheSoundsTimestampsStaysWhereItIs)
{
    std::vector<std::string> make = GAP_CLIP;
    make.push_back(p("gap.mkv"));
    tool(make);
    const Result r = mask({p("gap.mkv"), p("out.mkv"), "--mask", "7-8"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("filled with silence"), std::string::npos) << r.err;
    // ffmpeg decodes the input's 8 s of sound end to end, the output's 10 s as played.
    const std::vector<float> in = decode<float>(p("gap.mkv"), 1);
    const std::vector<float> out = decode<float>(p("out.mkv"), 1);
    ASSERT_EQ(in.size(), std::size_t{8 * RATE});
    ASSERT_NEAR(static_cast<double>(out.size()), 10.0 * RATE, RATE / 50);
    const auto at = [](double seconds) { return static_cast<std::size_t>(seconds * RATE); };
    int64_t wrong = 0;
    for (std::size_t i = 0; i < at(9.9); ++i) {
        const bool hole = i >= at(4.04) && i < at(6.03);
        const bool range = i >= at(7) && i < at(8);
        const std::size_t played = i < at(6) ? i : i - at(2);
        if (hole) {
            wrong += out[i] != 0.0f ? 1 : 0;
        } else if (range) {
            wrong += std::fabs(out[i]) > TONE_LEVEL + 0.01 ? 1 : 0;
        } else if (i < at(4) || i >= at(6.1)) {
            wrong += out[i] != in[played] ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(*std::max_element(out.begin() + at(7), out.begin() + at(8)), 0.49f);
}

TEST_F(MaskMedia, DamageInTheMiddleAndCutsAreRefusedNamingTheInput)
{
    for (const std::string name : {"clip.mkv", "clip.webm"}) {
        const bool webm = name == "clip.webm";
        tool({"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=10", "-f", "lavfi", "-i",
              "sine=frequency=300:sample_rate=48000:duration=10", "-c:v", webm ? "libvpx" : "mpeg4", "-c:a",
              webm ? "libopus" : "pcm_s16le", p(name)});
        std::string bytes = slurp(p(name));
        std::ofstream(p("cut-" + name), std::ios::binary) << bytes.substr(0, bytes.size() * 95 / 100);
        bytes.replace(bytes.size() / 2, 20480, std::string(20480, '\0'));
        std::ofstream(p("damaged-" + name), std::ios::binary) << bytes;
    }
    // A fragmented MP4 cut before its first fragment; an MP4 whose sixth picture is 2 GB by its index.
    tool({"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=4", "-f", "lavfi", "-i",
          "sine=frequency=300:sample_rate=48000:duration=4", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
          "-movflags", "frag_keyframe+empty_moov", p("clip.mp4")});
    std::string bytes = slurp(p("clip.mp4"));
    std::ofstream(p("fragments-cut.mp4"), std::ios::binary) << bytes.substr(0, bytes.find("moof") - 4);
    tool({"-i", p("clip.mp4"), "-c", "copy", p("whole.mp4")});
    bytes = slurp(p("whole.mp4"));
    bytes.replace(bytes.find("stsz") + 12 + 4 * 6, 4, "\x7f\xff\xff\xff");
    std::ofstream(p("huge-sample.mp4"), std::ios::binary) << bytes;
    const auto before = snapshot();
    for (const std::string name : {"damaged-clip.mkv", "damaged-clip.webm", "cut-clip.mkv", "cut-clip.webm",
                                   "fragments-cut.mp4", "huge-sample.mp4"}) {
        SCOPED_TRACE(name);
        expect_refused(mask({p(name), p("out-" + name), "--mask", "1-2", "-q"}), 2,
                       "input '.*" + name + "' is (damaged or cut short|truncated or damaged)", before);
    }
}

// Files that start late on their own timestamps, as captures and offsets make them.
TEST_F(MaskMedia, AFileThatStartsLateIsWholeAndItsTimesCountFromItsStart)
{
    const std::vector<std::string> clip = {"-f",   "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=10",
                                           "-f",   "lavfi", "-i", "sine=frequency=300:sample_rate=48000:duration=10",
                                           "-c:v", "mpeg4"};
    const auto make = [&](std::vector<std::string> options, const std::string& name) {
        options.insert(options.begin(), clip.begin(), clip.end());
        options.push_back(p(name));
        tool(options);
    };
    make({"-c:a", "mp2"}, "capture.ts");
    tool({"-copyts", "-i", p("capture.ts"), "-c", "copy", p("copyts.mkv")});
    make({"-c:a", "flac", "-output_ts_offset", "100"}, "offset.mkv");
    make({"-c:a", "pcm_s16le", "-output_ts_offset", "5"}, "offset.mov");
    make({"-c:a", "flac", "-output_ts_offset", "0.9"}, "late.mkv");
    for (const std::string name : {"copyts.mkv", "offset.mkv", "offset.mov", "late.mkv"}) {
        SCOPED_TRACE(name);
        const Result r = mask({p(name), p("out-" + name), "--mask", "9.5-12"});
        ASSERT_EQ(r.status, 0) << r.err;
        // The time shown runs from 0 to 10 s, whatever the timestamps say.
        EXPECT_TRUE(std::regex_search(r.err, std::regex("reaches past the end of the input \\(10\\.0[01]0 s\\)")))
            << r.err;
        const std::string entries = "stream=index,start_time:format=start_time";
        EXPECT_EQ(probe({"-show_entries", entries, p("out-" + name)}), probe({"-show_entries", entries, p(name)}));
    }
}

TEST_F(MaskMedia, AMatroskaPictureAttachmentStaysAnAttachment)
{
    tool({"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1", p("cover.png")});
    tool({"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=2", "-f", "lavfi", "-i",
          "sine=frequency=300:sample_rate=48000:duration=2", "-c:v", "mpeg4", "-c:a", "flac", "-attach", p("cover.png"),
          "-metadata:s:t", "mimetype=image/png", p("cover.mkv")});
    const Result r = mask({p("cover.mkv"), p("out.mkv"), "--mask", "1-1.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    // FFmpeg reads an image attachment as a picture stream of one packet.
    const std::string entries = "stream=index,codec_type,codec_name:stream_tags:stream_disposition=attached_pic";
    EXPECT_EQ(probe({"-select_streams", "2", "-show_entries", entries, p("out.mkv")}),
              probe({"-select_streams", "2", "-show_entries", entries, p("cover.mkv")}));
    EXPECT_EQ(packets(p("out.mkv"), 2), packets(p("cover.mkv"), 2));
}

// Matroska leaves the layout of a PCM track unknown; the channels say it.
TEST_F(MaskMedia, FormatWritesMonoPcmFromMatroskaInEveryLosslessCodec)
{
    tool({"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=2", "-f", "lavfi", "-i",
          "sine=frequency=300:sample_rate=48000:duration=2", "-c:v", "mpeg4", "-c:a", "pcm_s16le", p("mono.mkv")});
    const std::vector<int32_t> in = decode<int32_t>(p("mono.mkv"), 1);
    for (const auto& [format, codec] : std::vector<std::pair<std::string, std::string>>{
             {"pcm24", "pcm_s24le"}, {"pcm32", "pcm_s32le"}, {"float", "pcm_f32le"}, {"alac", "alac"}}) {
        SCOPED_TRACE(format);
        const std::string out = p(format + ".mkv");
        const Result r = mask({p("mono.mkv"), out, "--format", ":" + format, "--mask", "1-1.5"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(probe({"-select_streams", "a", "-show_entries", "stream=codec_name,channels", out}),
                  "stream|codec_name=" + codec + "|channels=1\n");
        const std::vector<int32_t> samples = decode<int32_t>(out, 1);
        ASSERT_EQ(samples.size(), in.size());
        int64_t wrong = 0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            wrong += (i < RATE || i >= RATE * 3 / 2) && samples[i] != in[i] ? 1 : 0;
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(*std::max_element(samples.begin() + RATE, samples.begin() + RATE * 3 / 2), INT32_MAX / 4);
    }
}

// Each pass encodes the sound again, with the encoder's own delay ahead of it
// and its last frame padded.
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
    for (const std::string codec : {"aac", "ac3", "eac3", "libmp3lame", "libopus", "libvorbis"}) {
        SCOPED_TRACE(codec);
        // Silence, then a sine from 1.5 s.
        tool({"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=3", "-f", "lavfi", "-i",
              "sine=frequency=440:sample_rate=48000:duration=3,volume='if(gte(t,1.5),1,0)':eval=frame", "-c:v", "mpeg4",
              "-c:a", codec, p("pass0.mkv")});
        for (const std::string pass : {"1", "2"}) {
            const Result r
                = mask({p(pass == "1" ? "pass0.mkv" : "pass1.mkv"), p("pass" + pass + ".mkv"), "--mask", "2.5-2.6"});
            ASSERT_EQ(r.status, 0) << r.err;
        }
        const std::vector<std::string> start = {"-select_streams", "a", "-show_entries", "stream=start_time"};
        std::vector<std::string> input = start, output = start;
        input.push_back(p("pass0.mkv"));
        output.push_back(p("pass2.mkv"));
        EXPECT_EQ(probe(output), probe(input));
        EXPECT_NEAR(onset(p("pass2.mkv")), onset(p("pass0.mkv")), 0.001);
        // Nor longer than the input said: the encoder pads its last frame.
        EXPECT_NEAR(length(p("pass2.mkv")), length(p("pass0.mkv")), 0.0015);
    }
}

} // namespace

} // namespace mask_test
