// SPDX-License-Identifier: ISC
// zendrik-mask end to end: the built program on generated audio files, with
// the build tree's bundle found through LV2_PATH. Every expected tone is the
// plugin's documented recurrence (support/reference.h), never taken from it.
// Also its one fault harness: bad and damaged inputs, failed writes (file
// size limit, full disk, permissions) and signals part-way, each checked for
// its exit status, its one error line, and a folder left as it was.
#include "support/reference.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// ---- Running the program -----------------------------------------------

struct Result {
    int status = -1; // exit status, or -1 when killed
    int signal = 0;
    std::string out, err;
};

using Env = std::vector<std::pair<std::string, std::string>>;

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

pid_t spawn(const std::vector<std::string>& argv, const fs::path& log_dir, const Env& env)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open((log_dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((log_dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (const auto& [k, v] : env) {
            setenv(k.c_str(), v.c_str(), 1);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

Result finish(pid_t pid, const fs::path& log_dir)
{
    Result r;
    int st = 0;
    waitpid(pid, &st, 0);
    if (WIFEXITED(st)) {
        r.status = WEXITSTATUS(st);
    } else if (WIFSIGNALED(st)) {
        r.signal = WTERMSIG(st);
    }
    r.out = slurp(log_dir / "stdout");
    r.err = slurp(log_dir / "stderr");
    return r;
}

// ---- Audio files -------------------------------------------------------

struct Audio {
    SF_INFO info{};
    std::vector<int32_t> ints;   // integer formats, as libsndfile's 32-bit ints
    std::vector<float> floats;   // float formats
    std::vector<double> doubles; // double formats
};

enum class Kind { Int, Float, Double, Lossy };

Kind kind_of(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT: return Kind::Float;
    case SF_FORMAT_DOUBLE: return Kind::Double;
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS: return Kind::Lossy;
    default: return Kind::Int;
    }
}

int bits_of(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    default: return 32;
    }
}

Audio read_audio(const fs::path& path, Kind as)
{
    Audio a;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &a.info);
    EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
    if (!f) {
        return a;
    }
    const auto n = static_cast<std::size_t>(a.info.frames * a.info.channels);
    switch (as) {
    case Kind::Int:
        a.ints.resize(n);
        sf_readf_int(f, a.ints.data(), a.info.frames);
        break;
    case Kind::Double:
        a.doubles.resize(n);
        sf_readf_double(f, a.doubles.data(), a.info.frames);
        break;
    default:
        a.floats.resize(n);
        sf_readf_float(f, a.floats.data(), a.info.frames);
        break;
    }
    sf_close(f);
    return a;
}

// Noise of the file's own resolution, so what is read back is what was meant.
void write_noise(const fs::path& path, int format, int rate, int channels, int64_t frames, unsigned seed = 1)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    ASSERT_TRUE(sf_format_check(&info)) << std::hex << format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::mt19937 rng(seed);
    const auto n = static_cast<std::size_t>(frames * channels);
    switch (kind_of(format)) {
    case Kind::Int: {
        const int bits = bits_of(format);
        std::uniform_int_distribution<int64_t> d(-(int64_t{1} << (bits - 1)), (int64_t{1} << (bits - 1)) - 1);
        std::vector<int32_t> v(n);
        for (auto& x : v) {
            x = static_cast<int32_t>(static_cast<uint32_t>(d(rng)) << (32 - bits));
        }
        sf_writef_int(f, v.data(), frames);
        break;
    }
    case Kind::Double: {
        std::uniform_real_distribution<double> d(-1.0, 1.0);
        std::vector<double> v(n);
        for (auto& x : v) {
            x = d(rng);
        }
        sf_writef_double(f, v.data(), frames);
        break;
    }
    default: {
        std::uniform_real_distribution<float> d(-0.9f, 0.9f);
        std::vector<float> v(n);
        for (auto& x : v) {
            x = d(rng);
        }
        // Values a careless float path would change: beyond full scale,
        // negative zero, subnormal.
        if (n > 10) {
            v[3] = 1.5f;
            v[4] = -0.0f;
            v[5] = 1e-40f;
            v[6] = -3.25f;
        }
        sf_writef_float(f, v.data(), frames);
        break;
    }
    }
    sf_close(f);
}

// The plugin's tone as documented: a zero sample first, then the recurrence.
std::vector<float> reference_burst(std::size_t n, double freq, double level, double rate)
{
    std::vector<float> out(n);
    zendrik_test::reference_tone(out.data(), static_cast<uint32_t>(n), 0.0, zendrik_test::tone_increment(freq, rate),
                                 level);
    return out;
}

struct Burst {
    int64_t start, end;
};

// Every sample outside the bursts bit for bit as in the input; inside, the
// reference tone restarted at each burst, on every channel.
void expect_masked(const Audio& in, const Audio& out, const std::vector<Burst>& bursts, double freq, double level,
                   int format)
{
    ASSERT_EQ(out.info.frames, in.info.frames);
    ASSERT_EQ(out.info.channels, in.info.channels);
    const auto ch = static_cast<std::size_t>(in.info.channels);
    const auto frames = static_cast<std::size_t>(in.info.frames);
    std::vector<float> tone(frames, 0.0f);
    std::vector<bool> on(frames, false);
    for (const Burst& b : bursts) {
        const auto r = reference_burst(static_cast<std::size_t>(b.end - b.start), freq, level, in.info.samplerate);
        for (int64_t i = b.start; i < b.end; ++i) {
            tone[static_cast<std::size_t>(i)] = r[static_cast<std::size_t>(i - b.start)];
            on[static_cast<std::size_t>(i)] = true;
        }
    }
    const Kind kind = kind_of(format);
    const double half_lsb = std::ldexp(1.0, -bits_of(format));
    int failures = 0;
    for (std::size_t i = 0; i < frames && failures < 5; ++i) {
        for (std::size_t c = 0; c < ch; ++c) {
            const std::size_t k = i * ch + c;
            bool ok = false;
            std::string got, want;
            switch (kind) {
            case Kind::Int:
                if (on[i]) {
                    const double v = std::ldexp(static_cast<double>(out.ints[k]), -31);
                    ok = std::fabs(v - static_cast<double>(tone[i])) <= half_lsb + 1e-12;
                } else {
                    ok = out.ints[k] == in.ints[k];
                }
                got = std::to_string(out.ints[k]);
                want = on[i] ? std::to_string(tone[i]) : std::to_string(in.ints[k]);
                break;
            case Kind::Double:
                ok = on[i] ? out.doubles[k] == static_cast<double>(tone[i])
                           : zendrik_test::bits(out.doubles[k]) == zendrik_test::bits(in.doubles[k]);
                got = std::to_string(out.doubles[k]);
                want = std::to_string(on[i] ? tone[i] : in.doubles[k]);
                break;
            default:
                ok = zendrik_test::bits(out.floats[k]) == zendrik_test::bits(on[i] ? tone[i] : in.floats[k]);
                got = std::to_string(out.floats[k]);
                want = std::to_string(on[i] ? tone[i] : in.floats[k]);
                break;
            }
            if (!ok) {
                ADD_FAILURE() << "frame " << i << " channel " << c << (on[i] ? " (tone)" : " (pass)") << ": got " << got
                              << ", want " << want;
                ++failures;
            }
        }
    }
}

// ---- Fixture -----------------------------------------------------------

class MaskCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = (fs::temp_directory_path() / "zendrik-mask-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        dir = templ;
        logs = dir / "logs";
        fs::create_directory(logs);
    }
    void TearDown() override
    {
        if (!mounted.empty()) {
            umount2(mounted.c_str(), MNT_DETACH);
        }
        fs::remove_all(dir);
    }

    // Runs the program with args; a prefix runs it (as another user).
    Result mask(const std::vector<std::string>& args, const Env& env = {}, std::vector<std::string> prefix = {})
    {
        prefix.push_back(ZENDRIK_MASK_EXE);
        prefix.insert(prefix.end(), args.begin(), args.end());
        return finish(spawn(prefix, logs, env), logs);
    }
    std::string p(const std::string& name) const { return (dir / name).string(); }

    // Everything in the folder but the logs, files with a hash of their
    // contents and their time: what a failed run must leave as it was (no
    // output, no temporary file, an old target and the inputs untouched).
    std::map<std::string, std::string> snapshot() const
    {
        std::map<std::string, std::string> entries;
        for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
            if (it->path() == logs) {
                it.disable_recursion_pending();
                continue;
            }
            std::string& entry = entries[fs::relative(it->path(), dir).string()];
            if (it->is_regular_file()) {
                entry = std::to_string(std::hash<std::string>{}(slurp(it->path()))) + " at "
                    + std::to_string(it->last_write_time().time_since_epoch().count());
            }
        }
        return entries;
    }

    fs::path dir, logs, mounted;
};

void expect_one_error_line(const Result& r, const std::string& pattern)
{
    EXPECT_EQ(r.err.rfind("zendrik-mask: error: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(pattern))) << "wanted '" << pattern << "' in: " << r.err;
}

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
    const Result r = mask({p("in.wav"), p("out.wav"), "--labels", p("marks.txt"), "--mask", "0.5-0.6"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: " + p("marks.txt") + ":4 reaches past the end"), std::string::npos) << r.err;
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

TEST_F(MaskCli, PresetsSetTheToneAndOptionsOverrideThem)
{
    const Result list = mask({"--list-presets"});
    EXPECT_EQ(list.status, 0);
    for (const char* name : {"broadcast", "soft", "low", "high"}) {
        EXPECT_NE(list.out.find(name), std::string::npos) << list.out;
    }
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

// ---- Faults: bad input ----------------------------------------------------

TEST_F(MaskCli, BadInputIsOneLineStatusTwoAndNoFile)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 8000);
    std::ofstream(p("notes.txt")) << "this is not audio\n";
    std::ofstream(p("bad-line.txt")) << "1\t2\tok\n\n0.5 0.7 spaces\n";
    std::ofstream(p("point.txt")) << "0.1\t0.2\tok\n0.3\t0.3\tpoint\n";
    std::ofstream(p("binary.txt")) << "0.5\t1.0\tok\n" << std::string("\x00\xff\xfe garbage\n", 12);
    fs::create_hard_link(p("in.wav"), p("same.wav"));
    fs::create_directory(p("folder"));
    const std::string in = p("in.wav");
    const std::string out = p("out.wav");

    struct Case {
        std::vector<std::string> args;
        const char* pattern;
    };
    const Case cases[] = {
        {{p("missing.wav"), out, "--mask", "1-2"}, "cannot open input '.*': No such file"},
        {{p("notes.txt"), out, "--mask", "1-2"}, "cannot read input"},
        {{p("folder"), out, "--mask", "1-2"}, "input '.*' is a folder"},
        {{in, in, "--mask", "0.01-0.02"}, "is the input"},
        {{in, p("./same.wav"), "--mask", "0.01-0.02"}, "is the input"},
        {{in, p("folder"), "--mask", "0.01-0.02"}, "output '.*' is a folder"},
        {{in, out, "--mask", "0.2-0.1"}, "start is not before end"},
        {{in, out, "--mask", "-1-2"}, "negative"},
        {{in, out, "--mask", "0.1-ten"}, "not a time"},
        {{in, out, "--mask", "0.1"}, "not START-END"},
        {{in, out, "--labels", p("bad-line.txt")}, "bad-line.txt:3:"},
        {{in, out, "--labels", p("point.txt")}, "point.txt:2: point label"},
        {{in, out, "--labels", p("binary.txt")}, "binary.txt:2:"},
        {{in, out, "--labels", p("no-such-labels.txt")}, "cannot read label file"},
        {{in, out, "--mask", "0.1-0.2", "--preset", "nope"}, "no preset 'nope'"},
        {{in, out, "--mask", "0.1-0.2", "--level", "2"}, "outside the plugin's range"},
        {{in, out, "--mask", "0.1-0.2", "--format", "mp4"}, "unknown container"},
        {{in, out, "--mask", "0.1-0.2", "--format", "flac:float"}, "cannot hold"},
        {{in, out, "--mask", "0.1-0.2", "--block", "0"}, "--block"},
        {{in, out}, "nothing to mask"},
        {{in, out, "--mask", "0.1-0.2", "--bogus"}, "--bogus"},
    };
    const auto before = snapshot();
    for (const Case& c : cases) {
        const Result r = mask(c.args);
        std::string line;
        for (const auto& a : c.args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        EXPECT_EQ(r.status, 2) << r.err;
        expect_one_error_line(r, c.pattern);
        EXPECT_EQ(snapshot(), before);
    }
}

// Audio that cannot be read, or that ends before its header says: frames
// would go missing from the output, so each is refused like any bad input.
TEST_F(MaskCli, DamagedAudioIsRefusedAsBadInput)
{
    write_noise(p("good.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 96000);
    write_noise(p("good.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, 96000);
    const std::string wav = slurp(p("good.wav"));
    std::string flac = slurp(p("good.flac"));
    std::mt19937 rng(3);
    const auto noise = [&](std::size_t n) {
        std::string bytes(n, '\0');
        for (char& b : bytes) {
            b = static_cast<char>(rng());
        }
        return bytes;
    };
    flac.replace(flac.size() / 2, 2048, noise(2048));
    const std::pair<const char*, std::string> files[] = {
        {"empty.wav", ""},
        {"header-cut.wav", wav.substr(0, 30)},
        {"noise.wav", noise(4096)},
        {"riff-then-noise.wav", wav.substr(0, 12) + noise(500)},
        {"samples-cut.wav", wav.substr(0, 200000)},
        {"middle-damaged.flac", flac},
    };
    for (const auto& [name, bytes] : files) {
        std::ofstream(p(name), std::ios::binary) << bytes;
    }
    const auto before = snapshot();
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const Result r = mask({p(name), p("out.wav"), "--mask", "0.5-1"});
        EXPECT_EQ(r.status, 2) << r.err;
        expect_one_error_line(r, "cannot read input|is truncated");
        EXPECT_EQ(snapshot(), before);
    }
}

TEST_F(MaskCli, MissingPluginNamesLv2PathAndTheBuildTreeIsALastResort)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 800);
    // A copy outside the build tree has no fallback.
    fs::create_directory(dir / "bin");
    fs::copy_file(ZENDRIK_MASK_EXE, dir / "bin" / "zendrik-mask");
    const Result r
        = finish(spawn({(dir / "bin" / "zendrik-mask").string(), p("in.wav"), p("out.wav"), "--mask", "0.01-0.02"},
                       logs, {{"LV2_PATH", p("no-plugins-here")}}),
                 logs);
    EXPECT_EQ(r.status, 2);
    expect_one_error_line(r, "not found in LV2_PATH \\(" + p("no-plugins-here") + "\\)");
    EXPECT_FALSE(fs::exists(p("out.wav")));

    // The build's own program finds the build's bundle anyway.
    const Result built
        = mask({p("in.wav"), p("out.wav"), "--mask", "0.01-0.02", "-q"}, {{"LV2_PATH", p("no-plugins-here")}});
    EXPECT_EQ(built.status, 0) << built.err;
}

TEST_F(MaskCli, RelativeLv2PathEntriesAreFound)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 8000, 1, 800);
    // A copy outside the build tree, so only LV2_PATH can lead to the plugin.
    fs::create_directory(dir / "bin");
    fs::copy_file(ZENDRIK_MASK_EXE, dir / "bin" / "zendrik-mask");
    fs::create_directory_symlink(std::getenv("LV2_PATH"), dir / "plugins");
    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    const Result r
        = finish(spawn({(dir / "bin" / "zendrik-mask").string(), "in.wav", "out.wav", "--mask", "0.01-0.02", "-q"},
                       logs, {{"LV2_PATH", "missing:plugins"}}),
                 logs);
    fs::current_path(cwd);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.signal, 0);
    EXPECT_TRUE(fs::exists(p("out.wav")));
}

// ---- Faults: failed writes and interruptions -------------------------------

TEST_F(MaskCli, FailedWriteExitsOneAndLeavesTheTargetAlone)
{
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000);
    std::ofstream(p("out.wav")) << "precious";
    const auto before = snapshot();
    // 64 blocks of 512 bytes: the file size limit strikes like a full disk.
    const Result r = finish(spawn({"/bin/sh", "-c", "ulimit -f 64 && exec \"$0\" \"$@\"", ZENDRIK_MASK_EXE, p("in.wav"),
                                   p("out.wav"), "--mask", "0.1-0.2"},
                                  logs, {}),
                            logs);
    EXPECT_EQ(r.status, 1) << r.err;
    expect_one_error_line(r, "cannot write '" + p("out.wav") + "': File too large");
    EXPECT_EQ(snapshot(), before);

    // A folder that is not there.
    const Result r2 = mask({p("in.wav"), p("no-such-folder/out.wav"), "--mask", "0.1-0.2"});
    EXPECT_EQ(r2.status, 1);
    expect_one_error_line(r2, "cannot create a file in");
    EXPECT_EQ(snapshot(), before);
}

TEST_F(MaskCli, FullDiskExitsOneAndLeavesTheTargetAlone)
{
    fs::create_directory(dir / "small");
    if (mount("tmpfs", p("small").c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                     << "); the file size limit in FailedWriteExitsOneAndLeavesTheTargetAlone stands in";
    }
    mounted = dir / "small";
    // 384 kB of output cannot fit in 256 kB.
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 48000);
    std::ofstream(p("small/out.wav")) << "precious";
    const auto before = snapshot();
    const Result r = mask({p("in.wav"), p("small/out.wav"), "--mask", "0.1-0.2"});
    EXPECT_EQ(r.status, 1) << r.err;
    expect_one_error_line(r, "cannot write '.*': No space left on device");
    EXPECT_EQ(snapshot(), before);
}

// Root may read and write anything, so as root these runs are nobody's.
TEST_F(MaskCli, UnreadableInputAndUnwritableFolderAreRefused)
{
    std::vector<std::string> as_user;
    if (geteuid() == 0) {
        as_user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
        fs::permissions(dir,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                            | fs::perms::others_exec);
        if (mask({"--version"}, {}, as_user).status != 0) {
            GTEST_SKIP() << "nobody cannot run " << ZENDRIK_MASK_EXE << " from here";
        }
    }
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000);
    fs::copy_file(p("in.wav"), p("locked.wav"));
    fs::permissions(p("locked.wav"), fs::perms::none);
    fs::create_directory(p("open"));
    fs::permissions(p("open"), fs::perms::all);
    fs::create_directory(p("locked"));
    fs::permissions(p("locked"),
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec
                        | fs::perms::others_read | fs::perms::others_exec);
    const auto before = snapshot();

    const Result unreadable = mask({p("locked.wav"), p("open/out.wav"), "--mask", "0.5-1"}, {}, as_user);
    EXPECT_EQ(unreadable.status, 2) << unreadable.err;
    expect_one_error_line(unreadable, "cannot open input '.*': Permission denied");
    EXPECT_EQ(snapshot(), before);

    const Result unwritable = mask({p("in.wav"), p("locked/out.wav"), "--mask", "0.5-1"}, {}, as_user);
    EXPECT_EQ(unwritable.status, 1) << unwritable.err;
    expect_one_error_line(unwritable, "cannot create a file in '.*': Permission denied");
    EXPECT_EQ(snapshot(), before);
    fs::permissions(p("locked"), fs::perms::owner_all); // so that TearDown can empty it
}

class MaskInterrupted : public MaskCli, public ::testing::WithParamInterface<int> {};

TEST_P(MaskInterrupted, KilledMidwayLeavesTheTargetUntouched)
{
    const int sig = GetParam();
    // Block size 1 makes the run long enough to catch it half-way.
    write_noise(p("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 48000 * 20);
    std::ofstream(p("out.wav")) << "precious";
    const auto before = snapshot();
    const pid_t pid = spawn({ZENDRIK_MASK_EXE, p("in.wav"), p("out.wav"), "--mask", "1-2", "--block", "1"}, logs, {});
    // Wait until the temporary file has grown, then strike.
    bool caught = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!caught && std::chrono::steady_clock::now() < deadline) {
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            std::error_code ec;
            if (name.rfind(".out.wav.", 0) == 0 && fs::file_size(e.path(), ec) > 256 * 1024) {
                caught = true;
            }
        }
        if (!caught) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    kill(pid, sig);
    const Result r = finish(pid, logs);
    ASSERT_TRUE(caught) << "never saw the temporary file grow";
    EXPECT_EQ(r.signal, sig) << "exit status " << r.status << ": " << r.err;
    auto after = snapshot();
    if (sig == SIGKILL) {
        // Nothing can clean up after SIGKILL: the temporary file may stay.
        std::erase_if(after, [](const auto& entry) { return entry.first.rfind(".out.wav.", 0) == 0; });
    }
    EXPECT_EQ(after, before);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, MaskInterrupted, ::testing::Values(SIGKILL, SIGTERM, SIGINT), [](const ::testing::TestParamInfo<int>& i) {
        return std::string(i.param == SIGKILL ? "SIGKILL" : i.param == SIGTERM ? "SIGTERM" : "SIGINT");
    });

} // namespace
