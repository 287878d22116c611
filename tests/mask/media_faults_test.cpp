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

// Each pass encodes the sound again, with the encoder's own delay ahead of it.
TEST_F(MaskMedia, LossyCodecsKeepTheirStartAndSyncPassAfterPass)
{
    const auto onset = [&](const std::string& file) {
        const std::vector<float> sound = decode<float>(file, 1);
        const auto loud = std::find_if(sound.begin(), sound.end(), [](float x) { return std::fabs(x) > 0.05f; });
        return static_cast<double>(loud - sound.begin()) / RATE;
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
    }
}

} // namespace

} // namespace mask_test
