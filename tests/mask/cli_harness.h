// SPDX-License-Identifier: ISC
// What zendrik-mask's end-to-end tests share: running the built program,
// reading and writing audio files with libsndfile, the expected tone from
// support/reference.h (never from the program), and a fixture whose
// snapshot() tells whether a failed run left its folder as it was.
#ifndef ZENDRIK_TESTS_MASK_CLI_HARNESS_H
#define ZENDRIK_TESTS_MASK_CLI_HARNESS_H

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

namespace mask_test {

namespace fs = std::filesystem;

// ---- Running the program -----------------------------------------------

struct Result {
    int status = -1; // exit status, or -1 when killed
    int signal = 0;
    std::string out, err;
};

using Env = std::vector<std::pair<std::string, std::string>>;

inline std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline pid_t spawn(const std::vector<std::string>& argv, const fs::path& log_dir, const Env& env)
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

inline Result finish(pid_t pid, const fs::path& log_dir)
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

// What ffprobe, not the program under test, finds in a file: `entries` such
// as "format=format_name" or "stream=codec_name,bits_per_raw_sample", as "wav"
// or "alac,32".
inline std::string ffprobe(const fs::path& file, const std::string& entries, const fs::path& log_dir)
{
    const Result r
        = finish(spawn({"/usr/bin/ffprobe", "-v", "error", "-show_entries", entries, "-of", "csv=p=0", file.string()},
                       log_dir, {}),
                 log_dir);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

// ---- Audio files -------------------------------------------------------

struct Audio {
    SF_INFO info{};
    std::vector<int32_t> ints;   // integer formats, as libsndfile's 32-bit ints
    std::vector<float> floats;   // float formats
    std::vector<double> doubles; // double formats
};

enum class Kind { Int, Float, Double, Lossy };

inline Kind kind_of(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT: return Kind::Float;
    case SF_FORMAT_DOUBLE: return Kind::Double;
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS: return Kind::Lossy;
    default: return Kind::Int;
    }
}

inline int bits_of(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return 8;
    case SF_FORMAT_PCM_16: return 16;
    case SF_FORMAT_PCM_24: return 24;
    default: return 32;
    }
}

inline Audio read_audio(const fs::path& path, Kind as)
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
inline void write_noise(const fs::path& path, int format, int rate, int channels, int64_t frames, unsigned seed = 1)
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
inline std::vector<float> reference_burst(std::size_t n, double freq, double level, double rate)
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
inline void expect_masked(const Audio& in, const Audio& out, const std::vector<Burst>& bursts, double freq,
                          double level, int format)
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

inline void expect_one_error_line(const Result& r, const std::string& pattern);

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
    // The regular files under the folder by relative name (logs aside), while a
    // program may still be making, renaming and removing them: a file gone
    // between the listing and the look at it is not listed, and a listing that
    // lost a folder under it is taken again.
    std::vector<std::string> files_now() const
    {
        for (;;) {
            std::vector<std::string> names;
            std::error_code failed;
            auto it = fs::recursive_directory_iterator(dir, failed);
            for (; !failed && it != fs::recursive_directory_iterator(); it.increment(failed)) {
                std::error_code gone;
                if (it->path() == logs) {
                    it.disable_recursion_pending();
                } else if (it->is_regular_file(gone)) {
                    names.push_back(fs::relative(it->path(), dir).string());
                }
            }
            if (!failed) {
                return names;
            }
        }
    }

    // Only for a folder nothing else is changing: see files_now().
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

    // A run refused with `status` and one error line matching `pattern`, the
    // folder left as `before` holds it.
    void expect_refused(const Result& r, int status, const std::string& pattern,
                        const std::map<std::string, std::string>& before) const
    {
        EXPECT_EQ(r.status, status) << r.err;
        expect_one_error_line(r, pattern);
        EXPECT_EQ(snapshot(), before);
    }

    fs::path dir, logs, mounted;
};

inline void expect_one_error_line(const Result& r, const std::string& pattern)
{
    EXPECT_EQ(r.err.rfind("zendrik-mask: error: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(pattern))) << "wanted '" << pattern << "' in: " << r.err;
}
} // namespace mask_test

#endif
