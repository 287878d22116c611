// SPDX-License-Identifier: ISC
// zendrik-mask end to end, what it writes: the built program on generated
// audio files, with the build tree's bundle found through LV2_PATH. Samples
// outside the ranges are compared bit for bit with the input; the tone inside
// with the plugin's documented recurrence.
#include "cli_harness.h"

namespace mask_test {

// ---- Exactness -----------------------------------------------------------

TEST_F(MaskCli, FloatWavExactToTheSampleForEveryBlockSize)
{
    // 8000 Hz: a sample is 125 µs, so 62.5 µs is exactly half a sample.
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 8000);
    const std::vector<std::string> ranges{
        "--mask",      "0.0000625-0.0500625", // [0.5, 400.5) samples: 1 to 400 (halves up)
        "--mask",      "0.1000624-0.2",       // [800.4992, 1600): 800 to 1599
        "--mask",      "0:00.5-0:00.750001",  // [4000, 6000.008): 4000 to 5999
        "--frequency", "1234.5",
        "--level",     "0.25"};
    const Audio in = read_audio(p("in.wav"), Kind::Float);
    for (const char* block : {"1024", "100", "1", "7"}) {
        std::vector<std::string> args{p("in.wav"), p("out.wav"), "--block", block, "--quiet"};
        args.insert(args.end(), ranges.begin(), ranges.end());
        const Result r = mask(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const Audio out = read_audio(p("out.wav"), Kind::Float);
        EXPECT_EQ(out.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(out.info.samplerate, 8000);
        SCOPED_TRACE(std::string("block ") + block);
        expect_masked(in, out, {{1, 401}, {800, 1600}, {4000, 6000}}, 1234.5, 0.25, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    }
}

struct FormatCase {
    const char* name;
    int format;
    int rate;
    int channels;
};

class MaskFormats : public MaskCli, public ::testing::WithParamInterface<FormatCase> {};

// Container, encoding, rate and channels are kept; passed-through samples
// are exact in every lossless encoding; the tone is within half a step of
// the encoding's resolution; all channels switch together.
TEST_P(MaskFormats, KeepsFormatAndPassesSamplesThroughExactly)
{
    const FormatCase& fc = GetParam();
    write_noise(p("in"), fc.format, fc.rate, fc.channels, fc.rate / 2);
    const Result r = mask({p("in"), p("out"), "--mask", "0.1-0.2", "--mask", "0.3-0.3005", "--preset", "low"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Kind kind = kind_of(fc.format);
    const Audio in = read_audio(p("in"), kind);
    const Audio out = read_audio(p("out"), kind);
    EXPECT_EQ(out.info.format, fc.format);
    EXPECT_EQ(out.info.samplerate, fc.rate);
    EXPECT_EQ(out.info.channels, fc.channels);
    if (kind == Kind::Lossy) {
        EXPECT_NEAR(static_cast<double>(out.info.frames), static_cast<double>(in.info.frames), 1024);
        return;
    }
    const auto at = [&](double s) { return static_cast<int64_t>(std::floor(s * fc.rate + 0.5)); };
    expect_masked(in, out, {{at(0.1), at(0.2)}, {at(0.3), at(0.3005)}}, 440.0, 0.5, fc.format);
}

INSTANTIATE_TEST_SUITE_P(Encodings, MaskFormats,
                         ::testing::Values(FormatCase{"wav_pcm16_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2},
                                           FormatCase{"wav_pcm24_stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2},
                                           FormatCase{"wav_pcm32_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 48000, 1},
                                           FormatCase{"wav_u8_mono", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1},
                                           FormatCase{"flac_pcm16_stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2},
                                           FormatCase{"flac_pcm24_stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 2},
                                           FormatCase{"aiff_pcm16_stereo", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 22050, 2},
                                           FormatCase{"caf_double_mono", SF_FORMAT_CAF | SF_FORMAT_DOUBLE, 44100, 1},
                                           FormatCase{"w64_float_3ch", SF_FORMAT_W64 | SF_FORMAT_FLOAT, 32000, 3},
                                           FormatCase{"ogg_vorbis_stereo", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2},
                                           FormatCase{"ogg_opus_mono", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1}),
                         [](const ::testing::TestParamInfo<FormatCase>& i) { return std::string(i.param.name); });

TEST_F(MaskCli, LabelFilesMergeWithMasksAndClipAtTheEnd)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 8000);
    std::ofstream(p("marks.txt")) << "0.100000\t0.200000\tname\n"
                                     "0.150000\t0.300000\toverlaps\n"
                                     "0.300000\t0.350000\t\n" // touches
                                     "0.900000\t1.500000\tpast the end\n";
    // A range past the end among others that are not is dropped with a warning.
    const Result r
        = mask({p("in.wav"), p("out.wav"), "--labels", p("marks.txt"), "--mask", "0.5-0.6", "--mask", "1-2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: " + p("marks.txt") + ":4 reaches past the end"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("warning: --mask 1-2 starts at or after the end"), std::string::npos) << r.err;
    const Audio in = read_audio(p("in.wav"), Kind::Float);
    const Audio out = read_audio(p("out.wav"), Kind::Float);
    // One unbroken burst over the merged labels: the tone does not restart.
    expect_masked(in, out, {{800, 2800}, {4000, 4800}, {7200, 8000}}, 1000.0, 0.5, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    const Result quiet = mask({p("in.wav"), p("out.wav"), "--labels", p("marks.txt"), "--quiet"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}

TEST_F(MaskCli, FormatOptionConvertsAndStaysExact)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 2, 8000);
    const Result r = mask({p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "--format", "wav:float", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio in = read_audio(p("in.wav"), Kind::Float); // libsndfile: int16 / 32768
    const Audio out = read_audio(p("out.wav"), Kind::Float);
    EXPECT_EQ(out.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    expect_masked(in, out, {{1600, 3200}}, 1000.0, 0.5, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    // Another container: the encoding is kept where it fits.
    ASSERT_EQ(mask({p("in.wav"), p("out.flac"), "--mask", "0.1-0.2", "--format", "flac", "-q"}).status, 0);
    EXPECT_EQ(read_audio(p("out.flac"), Kind::Int).info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
}

TEST_F(MaskCli, FloatInputToIntegerOutputKeepsTheSignal)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 2, 8000);
    const Audio in = read_audio(p("in.wav"), Kind::Float);
    const auto tone = reference_burst(1600, 1000.0, 0.5, 16000);
    for (const char* format : {":pcm16", "flac"}) {
        SCOPED_TRACE(format);
        const std::string out_name = p(format[0] == ':' ? "out.wav" : "out.flac");
        ASSERT_EQ(mask({p("in.wav"), out_name, "--mask", "0.1-0.2", "--format", format, "-q"}).status, 0);
        const Audio out = read_audio(out_name, Kind::Float);
        ASSERT_EQ(out.floats.size(), in.floats.size());
        // The integer grid is the only loss: within two 16-bit steps of the
        // input (clipped to full scale) outside, of the tone inside.
        double worst = 0.0;
        for (std::size_t i = 0; i < 8000; ++i) {
            for (std::size_t c = 0; c < 2; ++c) {
                const float x = in.floats[i * 2 + c];
                const double want = i >= 1600 && i < 3200 ? static_cast<double>(tone[i - 1600])
                                                          : std::clamp(static_cast<double>(x), -1.0, 1.0);
                worst = std::max(worst, std::fabs(static_cast<double>(out.floats[i * 2 + c]) - want));
            }
        }
        EXPECT_LE(worst, 2.0 / 32768);
    }
}

TEST_F(MaskCli, ReducedBitDepthRoundsPassedThroughSamples)
{
    // 24-bit samples around the 16-bit steps: ties, just off them, full scale.
    const int32_t picked[] = {0x80, 0x180, -0x80, -0x180, 0x81, -0x81, 0x7FFFFF, 0x7FFF80, -0x800000, -0x7FFF81};
    std::vector<int32_t> samples(8000);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int32_t> any(-0x800000, 0x7FFFFF);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = (i < std::size(picked) ? picked[i] : any(rng)) * 256;
    }
    SF_INFO info{0, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0, 0};
    SNDFILE* f = sf_open(p("in.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_writef_int(f, samples.data(), 8000);
    sf_close(f);

    const Result r = mask({p("in.wav"), p("out.wav"), "--format", ":pcm16", "--mask", "0.9-1", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Audio out = read_audio(p("out.wav"), Kind::Int);
    ASSERT_EQ(out.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    for (std::size_t i = 0; i < 7200; ++i) {
        // Nearest 16-bit step, ties to even (the default rounding mode), clipped.
        const double want = std::min(std::nearbyint(samples[i] / 65536.0), 32767.0);
        ASSERT_EQ(out.ints[i] / 65536, static_cast<int32_t>(want)) << "sample " << i << " was " << samples[i] / 256;
    }
}

// ---- Where the output goes -----------------------------------------------

TEST_F(MaskCli, TheOutputsExtensionPicksTheContainerUnlessFormatNamesOne)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    const std::pair<const char*, const char*> cases[]
        = {{"out.flac", "flac"}, {"OUT.AIF", "aiff"}, {"out.ogg", "ogg"}, {"out.w64", "w64"}, {"out.txt", "wav"}};
    for (const auto& [name, container] : cases) {
        ASSERT_EQ(mask({p("in.wav"), p(name), "--mask", "0.1-0.2", "-q"}).status, 0) << name;
        EXPECT_EQ(ffprobe(p(name), "format=format_name", logs), container) << name;
    }
    const Result r = mask({p("in.wav"), p("wav.flac"), "--mask", "0.1-0.2", "--format", "wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ffprobe(p("wav.flac"), "format=format_name", logs), "wav");
    EXPECT_TRUE(std::regex_search(r.err,
                                  std::regex("^zendrik-mask: warning: --format wav wins over the extension "
                                             "of '[^\n]*wav.flac' \\(flac\\)[^\n]*\nzendrik-mask: masked")))
        << r.err;
}

TEST_F(MaskCli, WritesThroughSymbolicLinksAndFitsTheLongestNames)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 4000);
    fs::create_directory(p("takes"));
    std::ofstream(p("takes/old.wav")) << "precious";
    fs::create_symlink("takes/old.wav", p("link"));     // relative to its folder
    fs::create_symlink(p("link"), p("link-to-link"));   // a chain
    fs::create_symlink("takes/new.wav", p("dangling")); // to a file yet to be made
    for (const char* link : {"link-to-link", "dangling"}) {
        const Result r = mask({p("in.wav"), p(link), "--mask", "0.1-0.2", "-q"});
        ASSERT_EQ(r.status, 0) << link << ": " << r.err;
    }
    EXPECT_EQ(fs::read_symlink(p("link-to-link")), p("link"));
    EXPECT_EQ(fs::read_symlink(p("link")), "takes/old.wav");
    EXPECT_EQ(fs::read_symlink(p("dangling")), "takes/new.wav");
    EXPECT_EQ(ffprobe(p("takes/old.wav"), "format=format_name", logs), "wav");
    EXPECT_EQ(ffprobe(p("takes/new.wav"), "format=format_name", logs), "wav");

    // 255 bytes is the longest name a folder takes.
    const Result longest = mask({p("in.wav"), p("takes/" + std::string(251, 'a') + ".wav"), "--mask", "0.1-0.2", "-q"});
    EXPECT_EQ(longest.status, 0) << longest.err;
    // Nothing left beside them: old.wav, new.wav and the long one.
    EXPECT_EQ(std::distance(fs::directory_iterator(p("takes")), fs::directory_iterator()), 3);
}

TEST_F(MaskCli, WarnsOfEmptyLabelFilesAndTonesTheRateCannotCarry)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000);
    std::ofstream(p("empty.txt")) << "";
    std::ofstream(p("blank.txt")) << "\n\\\t100\t200\n\n";
    std::ofstream(p("mac.txt")) << "0.1\t0.2\ta\r0.5\t0.6\tb\r";
    const Result r = mask({p("in.wav"), p("out.wav"), "--labels", p("empty.txt"), "--labels", p("blank.txt"),
                           "--labels", p("mac.txt"), "--frequency", "5000"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& line : {"warning: label file '" + p("empty.txt") + "' holds no labels",
                                    "warning: label file '" + p("blank.txt") + "' holds no labels",
                                    "Nyquist frequency of '" + p("in.wav")
                                        + "' (half its sample rate, 4000 Hz): the bleeps will sound at 3000 Hz",
                                    std::string("masked 2 ranges (0.200 s)")}) {
        EXPECT_NE(r.err.find(line), std::string::npos) << line << " in: " << r.err;
    }
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
    const Result silent = mask({p("in.wav"), p("out.wav"), "--mask", "0.1-0.2", "--frequency", "4000"});
    EXPECT_NE(silent.err.find("(half its sample rate, 4000 Hz): the bleeps will be silent"), std::string::npos)
        << silent.err;
}

TEST_F(MaskCli, PresetsSetTheToneAndOptionsOverrideThem)
{
    // Sorted by name, whatever order lilv finds them in.
    const Result list = mask({"--list-presets"});
    EXPECT_EQ(list.status, 0);
    std::istringstream lines(list.out);
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);) {
        names.push_back(line.substr(0, line.find(' ')));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"broadcast", "high", "low", "mute", "soft"})) << list.out;
    EXPECT_NE(list.out.find("level=0.125"), std::string::npos) << list.out;

    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 4000);
    ASSERT_EQ(
        mask({p("in.wav"), p("out.wav"), "-q", "--mask", "0.1-0.3", "--preset", "soft", "--frequency", "500"}).status,
        0);
    expect_masked(read_audio(p("in.wav"), Kind::Float), read_audio(p("out.wav"), Kind::Float), {{800, 2400}}, 500.0,
                  0.125, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    const Result version = mask({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find(ZENDRIK_MASK_VERSION), std::string::npos);
    const Result help = mask({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("nearest sample, halves up"), std::string::npos);
}

TEST_F(MaskCli, MutePresetSilencesAndLevelsMayBeDecibels)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 4000);
    const Audio in = read_audio(p("in.wav"), Kind::Float);
    ASSERT_EQ(mask({p("in.wav"), p("muted.wav"), "-q", "--mask", "0.1-0.3", "--preset", "mute"}).status, 0);
    const Audio muted = read_audio(p("muted.wav"), Kind::Float);
    expect_masked(in, muted, {{800, 2400}}, 1000.0, 0.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_TRUE(std::all_of(muted.floats.begin() + 800, muted.floats.begin() + 2400, [](float v) { return v == 0; }));

    // -12 dB is a gain of 10^(-12/20); the unit in any case, spaced or not.
    for (const char* level : {"-12dB", "-12 db", "-12DB"}) {
        ASSERT_EQ(mask({p("in.wav"), p("out.wav"), "-q", "--mask", "0.1-0.3", "--level", level}).status, 0) << level;
        expect_masked(in, read_audio(p("out.wav"), Kind::Float), {{800, 2400}}, 1000.0, std::pow(10.0, -0.6),
                      SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    }
    const auto before = snapshot();
    expect_refused(mask({p("in.wav"), p("new.wav"), "--mask", "0.1-0.3", "--level", "-6 dBFS"}), 2,
                   "--level '-6 dBFS' is neither a gain", before);
    expect_refused(mask({p("in.wav"), p("new.wav"), "--mask", "0.1-0.3", "--level", "+6dB"}), 2,
                   "--level 1.99.* is outside the plugin's range", before);
}

TEST_F(MaskCli, LevelsTakeADecimalCommaAndAValueAFloatsStepBeyondTheEnd)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 4000);
    const Audio in = read_audio(p("in.wav"), Kind::Float);
    const std::pair<const char*, double> levels[] = {{"-6,5dB", std::pow(10.0, -6.5 / 20)}, {"1.0000001", 1.0}};
    for (const auto& [level, gain] : levels) {
        const Result r = mask({p("in.wav"), p("out.wav"), "-q", "--mask", "0.1-0.3", "--level", level});
        ASSERT_EQ(r.status, 0) << level << ": " << r.err;
        expect_masked(in, read_audio(p("out.wav"), Kind::Float), {{800, 2400}}, 1000.0, gain,
                      SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    }
    const auto before = snapshot();
    expect_refused(mask({p("in.wav"), p("new.wav"), "--mask", "0.1-0.3", "--level", "1.00001"}), 2,
                   "--level 1.00001 is outside the plugin's range 0 to 1", before);
}

} // namespace mask_test
