// SPDX-License-Identifier: ISC
// zendrik-mask on a film as a family hears it: the dialogue channel alone,
// a tone under the sound's loudness, each audio stream its own finds, and
// the edit decision list played by MPlayer. Loudness is measured with
// ffmpeg's ebur128 filter, never with the program under test.
#include "media_harness.h"

namespace mask_test {

namespace {

class MaskFilm : public MaskMedia {
protected:
    // Video and a FLAC stream in `layout`, its channels named `names`: pink
    // noise in the centre, where a film's dialogue is, a louder sine of its
    // own in every other channel.
    void make_film(const std::string& name, const std::string& layout, const std::vector<std::string>& names,
                   int seconds)
    {
        const std::string length = ":duration=" + std::to_string(seconds);
        std::string graph, inputs, map;
        for (std::size_t c = 0; c < names.size(); ++c) {
            const std::string label = "[c" + std::to_string(c) + "]";
            graph += (names[c] == "FC"
                          ? "anoisesrc=color=pink:amplitude=0.1:sample_rate=48000" + length
                          : "sine=sample_rate=48000:frequency=" + std::to_string(200 + 100 * c) + length + ",volume=4")
                + label + ";";
            inputs += label;
            map += (c == 0 ? "" : "|") + std::to_string(c) + ".0-" + names[c];
        }
        graph += inputs + "join=inputs=" + std::to_string(names.size()) + ":channel_layout=" + layout + ":map=" + map
            + "[a]";
        tool({"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25" + length, "-filter_complex", graph, "-map", "0:v",
              "-map", "[a]", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "flac", "-sample_fmt", "s16", p(name)});
    }
    // Integrated loudness in LUFS by ffmpeg's ebur128 filter, after `filter`.
    double lufs(const std::vector<std::string>& input, const std::string& filter)
    {
        std::vector<std::string> argv{"/usr/bin/ffmpeg", "-hide_banner", "-nostats"};
        argv.insert(argv.end(), input.begin(), input.end());
        argv.insert(argv.end(), {"-map", "0:a", "-af", filter + "ebur128", "-f", "null", "-"});
        const Result r = finish(spawn(argv, logs, {}), logs);
        const std::size_t at = r.err.rfind("I:");
        EXPECT_NE(at, std::string::npos) << r.err;
        return at == std::string::npos ? 0 : std::stod(r.err.substr(at + 2));
    }
};

TEST_F(MaskFilm, ChannelsCentreTonesTheDialogueAloneAndIsRefusedWithoutACentre)
{
    const int64_t start = 48000, end = 96000; // --mask 1-2
    const std::vector<float> tone = reference_burst(end - start, TONE_HZ, TONE_LEVEL, 48000);
    const std::vector<std::string> side = {"FL", "FR", "FC", "LFE", "SL", "SR"};
    const std::vector<std::string> eight = {"FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"};
    for (const auto& [layout, names, pick] : {std::tuple{"5.1(side)", side, "centre"}, {"7.1", eight, "FC"}}) {
        SCOPED_TRACE(layout);
        const auto channels = names.size();
        make_film("film.mkv", layout, names, 3);
        const Result r = mask({p("film.mkv"), p("out.mkv"), "--mask", "1-2", "--channels", pick});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<int32_t> in = decode<int32_t>(p("film.mkv"), 1);
        const std::vector<int32_t> out = decode<int32_t>(p("out.mkv"), 1);
        ASSERT_EQ(in.size(), out.size());
        int64_t wrong = 0;
        for (std::size_t i = 0; i < in.size(); ++i) {
            const auto frame = static_cast<int64_t>(i / channels);
            if (i % channels == 2 && frame >= start && frame < end) {
                const double expected = std::nearbyint(tone[static_cast<std::size_t>(frame - start)] * 32768) * 65536;
                wrong += std::fabs(expected - out[i]) > 65536 ? 1 : 0;
            } else {
                wrong += out[i] != in[i] ? 1 : 0;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
    tool({"-f", "lavfi", "-i", "sine=duration=2", "-ac", "2", "-c:a", "flac", p("stereo.mka")});
    const auto before = snapshot();
    expect_refused(mask({p("stereo.mka"), p("out.mka"), "--mask", "1-2", "--channels", "centre"}), 2,
                   "stereo\\) has no front center channel", before);
    expect_refused(mask({p("stereo.mka"), p("out.mka"), "--mask", "1-2", "--channels", "middle"}), 2,
                   "no channel named 'middle'", before);
}

TEST_F(MaskFilm, LevelAutoPutsTheToneTheChosenLuUnderWhatItReplaces)
{
    make_film("film.mkv", "5.1(side)", {"FL", "FR", "FC", "LFE", "SL", "SR"}, 20);
    const double whole = lufs({"-i", p("film.mkv")}, "");
    const double centre = lufs({"-i", p("film.mkv")}, "pan=mono|c0=FC,");
    struct Case {
        std::vector<std::string> options;
        std::string filter;
        double expected;
    };
    for (const Case& c : {Case{{}, "", whole - 6}, Case{{"--level-below", "10"}, "", whole - 10},
                          Case{{"--channels", "centre"}, "pan=mono|c0=FC,", centre - 6}}) {
        std::vector<std::string> args{p("film.mkv"), p("out.mkv"), "--mask", "4-16", "--level", "auto"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = mask(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NEAR(lufs({"-ss", "5", "-t", "10", "-i", p("out.mkv")}, c.filter), c.expected, 0.5)
            << testing::PrintToString(c.options);
    }
    const auto before = snapshot();
    expect_refused(mask({p("film.mkv"), p("out.mkv"), "--mask", "1-2", "--level-below", "6"}), 2,
                   "--level-below applies to --level auto only", before);
}

TEST_F(MaskFilm, PerStreamFindsBleepOnlyTheStreamThatHeardThem)
{
    // A tone in the first audio stream, the reading in the second.
    tool({"-f",        "lavfi",
          "-i",        "color=black:size=64x48:rate=10:duration=3",
          "-f",        "lavfi",
          "-i",        "sine=frequency=440:sample_rate=16000:duration=3",
          "-i",        ZENDRIK_MASK_SPEECH,
          "-map",      "0",
          "-map",      "1",
          "-map",      "2",
          "-t",        "3",
          "-c:v",      "libx264",
          "-preset",   "ultrafast",
          "-c:a",      "flac",
          p("two.mkv")});
    const std::vector<int32_t> in = decode<int32_t>(p("two.mkv"), 1);
    // Samples of the first stream changed before 2.5 s, and after.
    const auto changed = [&](const std::string& out) {
        const std::vector<int32_t> samples = decode<int32_t>(out, 1);
        std::pair<int, int> counts{0, 0};
        for (std::size_t i = 0; i < samples.size() && i < in.size(); ++i) {
            (i < 40000 ? counts.first : counts.second) += samples[i] != in[i] ? 1 : 0;
        }
        return counts;
    };
    for (const bool own : {false, true}) {
        std::vector<std::string> args{p("two.mkv"), p("out.mkv"), "--word", "dashwood", "--mask", "2.6-2.8", "-j", "1"};
        if (own) {
            args.push_back("--per-stream-finds");
        }
        const Result r = mask(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto [word, given] = changed(p("out.mkv"));
        EXPECT_EQ(word > 0, !own) << "--per-stream-finds " << own;
        EXPECT_GT(given, 0);
        EXPECT_NE(decode<int32_t>(p("out.mkv"), 2), decode<int32_t>(p("two.mkv"), 2));
    }
}

TEST_F(MaskFilm, MPlayerMutesTheEditDecisionListClippedAtTheEnd)
{
    make_clip("clip.mkv", {"-c:a", "flac"}, 6);
    ASSERT_EQ(mask({p("clip.mkv"), "--dry-run", "--mask", "1-2", "--mask", "3-3.5", "--mask", "5.5-9", "--write-edl",
                    p("film.edl")})
                  .status,
              0);
    EXPECT_EQ(slurp(p("film.edl")),
              "1.000000000 2.000000000 1\n3.000000000 3.500000000 1\n5.500000000 6.000000000 1\n");
    // As docs/zendrik-mask.md has it: a high rate and many channels make
    // MPlayer's audio chunks short, and its mutes exact to them.
    const Result played
        = finish(spawn({"/usr/bin/mplayer", "-really-quiet", "-nolirc", "-noconsolecontrols", "-softvol", "-vo", "null",
                        "-srate", "192000", "-af", "channels=8,format=floatle", "-ao",
                        "pcm:fast:file=" + p("played.wav"), "-edl", p("film.edl"), p("clip.mkv")},
                       logs, {}),
                 logs);
    ASSERT_EQ(played.status, 0) << played.err;
    tool({"-i", p("played.wav"), "-ac", "1", "-ar", "48000", "-f", "f32le", p("played.raw")});
    const std::string bytes = slurp(p("played.raw"));
    std::vector<float> heard(bytes.size() / sizeof(float));
    std::memcpy(heard.data(), bytes.data(), heard.size() * sizeof(float));
    ASSERT_NEAR(static_cast<double>(heard.size()), 6 * 48000.0, 48000 * 0.05);
    // Every 10 ms window silent exactly when it lies in a range; 50 ms at
    // each edge for MPlayer's chunks.
    const std::vector<std::pair<double, double>> muted = {{1, 2}, {3, 3.5}, {5.5, 6}};
    int wrong = 0;
    for (std::size_t window = 0; window + 480 <= heard.size(); window += 480) {
        const double t = static_cast<double>(window) / 48000;
        bool inside = false, near_edge = false;
        for (const auto& [from, to] : muted) {
            inside = inside || (t >= from && t < to);
            near_edge = near_edge || std::fabs(t - from) < 0.05 || std::fabs(t - to) < 0.05;
        }
        const bool silent = std::all_of(heard.begin() + static_cast<std::ptrdiff_t>(window),
                                        heard.begin() + static_cast<std::ptrdiff_t>(window + 480),
                                        [](float x) { return std::fabs(x) < 1e-4f; });
        wrong += !near_edge && silent != inside ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace

} // namespace mask_test
