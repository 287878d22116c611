// SPDX-License-Identifier: ISC
#include "job.h"

#include "errors.h"
#include "formats.h"
#include "host.h"
#include "progress.h"
#include "ranges.h"
#include "temp_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// How samples travel between the files and this program. Integer PCM is read
// and written as 32-bit integers: libsndfile moves those without rounding, so
// passed-through samples come out as they went in. Float and double formats
// use their own type; everything else (lossy codecs) goes through float.
// libsndfile opens a WAV or AIFF file cut short inside its audio as a shorter
// file, and says so only in its log, on the line of the audio chunk:
// "data : 288000 (should be 199920)". Processing it would lose the missing
// audio without a word, so the log is read for that line.
bool audio_chunk_cut_short(SNDFILE* f)
{
    char log[16384] = {};
    sf_command(f, SFC_GET_LOG_INFO, log, sizeof log - 1);
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        long long declared = 0, present = 0;
        char chunk[8] = {};
        if (std::sscanf(line.c_str(), " %4s : %lld (should be %lld)", chunk, &declared, &present) == 3 &&
            (std::strcmp(chunk, "data") == 0 || std::strcmp(chunk, "SSND") == 0) && present < declared) {
            return true;
        }
    }
    return false;
}

enum class Io { Int, Float, Double };

struct SampleType {
    Io io;
    int bits; // integer formats: significant bits
};

SampleType sample_type(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8: return {Io::Int, 8};
    case SF_FORMAT_DWVW_12: return {Io::Int, 12};
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return {Io::Int, 16};
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24: return {Io::Int, 24};
    case SF_FORMAT_PCM_32: return {Io::Int, 32};
    case SF_FORMAT_DOUBLE: return {Io::Double, 0};
    default: return {Io::Float, 0};
    }
}

// ---- The job ---------------------------------------------------------------

struct SndFile {
    SNDFILE* f = nullptr;
    ~SndFile()
    {
        if (f) {
            sf_close(f);
        }
    }
};

std::vector<TimeRange> read_ranges(const Options& o)
{
    std::vector<TimeRange> ranges;
    for (const std::string& m : o.masks) {
        ranges.push_back(parse_range(m));
        ranges.back().origin = "--mask " + m;
    }
    for (const std::string& path : o.label_files) {
        std::ifstream in(path);
        if (!in) {
            throw bad_input("cannot read label file '" + path + "': " + std::strerror(errno));
        }
        for (TimeRange& r : parse_labels(in, path)) {
            ranges.push_back(std::move(r));
        }
    }
    return ranges;
}

void configure_plugin(Lv2Host& host, const Options& o)
{
    if (!o.preset.empty()) {
        bool found = false;
        for (const Preset& p : host.presets()) {
            if (o.preset == p.name || o.preset == p.uri || o.preset == p.label ||
                o.preset == "preset-" + p.name) {
                for (const auto& [symbol, value] : p.values) {
                    host.set_control(symbol, value);
                }
                found = true;
                break;
            }
        }
        if (!found) {
            throw bad_input("no preset '" + o.preset + "' (see --list-presets)");
        }
    }
    const std::pair<const char*, const std::optional<float>*> settings[] = {
        {"frequency", &o.frequency}, {"level", &o.level}};
    for (const auto& [symbol, value] : settings) {
        if (!value->has_value()) {
            continue;
        }
        const ControlInfo info = host.control(symbol);
        const float v = **value;
        if (!(v >= info.minimum && v <= info.maximum)) {
            char msg[160];
            std::snprintf(msg, sizeof msg, "--%s %g is outside the plugin's range %g to %g", symbol,
                          static_cast<double>(v), static_cast<double>(info.minimum),
                          static_cast<double>(info.maximum));
            throw bad_input(msg);
        }
        host.set_control(symbol, v);
    }
}

void process(const Options& o)
{
    if (o.block < 1 || o.block > (1 << 20)) {
        throw bad_input("--block must be 1 to 1048576 frames");
    }
    std::vector<TimeRange> time_ranges = read_ranges(o);

    // The input.
    struct stat in_stat {};
    if (stat(o.input.c_str(), &in_stat) != 0) {
        throw bad_input("cannot open input '" + o.input + "': " + std::strerror(errno));
    }
    if (S_ISDIR(in_stat.st_mode)) {
        throw bad_input("input '" + o.input + "' is a folder");
    }
    SF_INFO in_info{};
    SndFile in;
    in.f = sf_open(o.input.c_str(), SFM_READ, &in_info);
    if (!in.f) {
        const int fd = open(o.input.c_str(), O_RDONLY);
        if (fd < 0) {
            throw bad_input("cannot open input '" + o.input + "': " + std::strerror(errno));
        }
        close(fd);
        throw bad_input("cannot read input '" + o.input + "': " + sf_strerror(nullptr));
    }

    if (audio_chunk_cut_short(in.f)) {
        throw bad_input("input '" + o.input +
                                 "' is truncated: its header promises more audio than the file holds");
    }

    // The output must not be the input, under any name.
    struct stat out_stat {};
    const bool out_exists = stat(o.output.c_str(), &out_stat) == 0;
    if (out_exists && out_stat.st_dev == in_stat.st_dev && out_stat.st_ino == in_stat.st_ino) {
        throw bad_input("output '" + o.output + "' is the input file; choose another name");
    }
    if (out_exists && S_ISDIR(out_stat.st_mode)) {
        throw bad_input("output '" + o.output + "' is a folder");
    }

    const int64_t frames = in_info.frames == SF_COUNT_MAX ? -1 : in_info.frames;
    Plan plan = plan_ranges(time_ranges, in_info.samplerate, frames);

    SF_INFO out_info{};
    out_info.samplerate = in_info.samplerate;
    out_info.channels = in_info.channels;
    out_info.format = output_format(o.format, {in_info.format, in_info.samplerate, in_info.channels});

    Lv2Host host(ZENDRIK_MASK_URI, fallback_lv2_dir());
    configure_plugin(host, o);
    const auto channels = static_cast<unsigned>(in_info.channels);
    host.instantiate(in_info.samplerate, channels);
    // Everything is checked: now the warnings are worth reading.
    for (const std::string& w : plan.warnings) {
        warn(o.quiet, w);
    }

    mode_t mode = 0;
    if (out_exists) {
        mode = out_stat.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    TempFile temp(o.output, mode);
    SndFile out;
    out.f = sf_open_fd(temp.fd(), SFM_WRITE, &out_info, SF_FALSE);
    if (!out.f) {
        throw bad_input("cannot write that format to '" + o.output + "': " + sf_strerror(nullptr));
    }
    sf_command(out.f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    for (int s = SF_STR_FIRST; s <= SF_STR_LAST; ++s) {
        if (const char* text = sf_get_string(in.f, s)) {
            sf_set_string(out.f, s, text);
        }
    }

    SampleType type = sample_type(out_info.format);
    // Integers pass through bit for bit only when both files hold integers.
    // libsndfile does not scale float samples it reads as ints (all but
    // their sign would be lost), so a float or double input bound for an
    // integer output goes by double and libsndfile converts on writing.
    if (type.io == Io::Int && sample_type(in_info.format).io != Io::Int) {
        type.io = Io::Double;
    }
    const auto B = static_cast<std::size_t>(o.block);
    const std::size_t ch = channels;
    std::vector<int32_t> ibuf(type.io == Io::Int ? B * ch : 0);
    std::vector<float> fbuf(type.io == Io::Float ? B * ch : 0);
    std::vector<double> dbuf(type.io == Io::Double ? B * ch : 0);
    std::vector<float> planar_in(B * ch), planar_out(B * ch);

    // Tone samples to integers: scaled to the output's bit depth, rounded to
    // nearest and clipped there, then placed in the top bits for libsndfile.
    const int bits = type.bits > 0 ? type.bits : 32;
    const double scale = std::ldexp(1.0, bits - 1);
    const int shift = 32 - bits;
    const auto to_int = [&](float y) {
        double q = std::nearbyint(static_cast<double>(y) * scale);
        q = std::clamp(q, -scale, scale - 1.0);
        const auto v = static_cast<int64_t>(q);
        return static_cast<int32_t>(static_cast<uint32_t>(v) << shift);
    };

    Schedule schedule(plan.ranges);
    Progress progress(!o.quiet && isatty(STDERR_FILENO), frames);
    int64_t pos = 0;
    int64_t masked = 0;
    for (;;) {
        const auto want = static_cast<sf_count_t>(B);
        sf_count_t got = 0;
        switch (type.io) {
        case Io::Int: got = sf_readf_int(in.f, ibuf.data(), want); break;
        case Io::Float: got = sf_readf_float(in.f, fbuf.data(), want); break;
        case Io::Double: got = sf_readf_double(in.f, dbuf.data(), want); break;
        }
        if (got <= 0) {
            break;
        }
        const auto n = static_cast<std::size_t>(got);
        for (std::size_t c = 0; c < ch; ++c) {
            float* dst = &planar_in[c * B];
            switch (type.io) {
            case Io::Int:
                for (std::size_t i = 0; i < n; ++i) {
                    dst[i] = static_cast<float>(ibuf[i * ch + c]) * (1.0f / 2147483648.0f);
                }
                break;
            case Io::Float:
                for (std::size_t i = 0; i < n; ++i) {
                    dst[i] = fbuf[i * ch + c];
                }
                break;
            case Io::Double:
                for (std::size_t i = 0; i < n; ++i) {
                    dst[i] = static_cast<float>(dbuf[i * ch + c]);
                }
                break;
            }
        }

        // The plugin runs over every frame, its blocks cut at range edges.
        std::size_t off = 0;
        while (off < n) {
            const Schedule::Block blk = schedule.next(pos + static_cast<int64_t>(off),
                                                      static_cast<int64_t>(n - off));
            const auto len = static_cast<std::size_t>(blk.length);
            host.set_enable(blk.on);
            for (unsigned c = 0; c < channels; ++c) {
                host.run(c, &planar_in[c * B + off], &planar_out[c * B + off], static_cast<uint32_t>(len));
            }
            // Float files take everything from the plugin, whose pass-through
            // is exact. Integer and double files keep their own samples
            // outside the ranges (a float cannot carry all their bits) and
            // take the tone from the plugin inside.
            if (type.io == Io::Float || blk.on) {
                for (std::size_t c = 0; c < ch; ++c) {
                    const float* src = &planar_out[c * B + off];
                    for (std::size_t i = 0; i < len; ++i) {
                        const std::size_t k = (off + i) * ch + c;
                        switch (type.io) {
                        case Io::Int: ibuf[k] = to_int(src[i]); break;
                        case Io::Float: fbuf[k] = src[i]; break;
                        case Io::Double: dbuf[k] = static_cast<double>(src[i]); break;
                        }
                    }
                }
            }
            if (blk.on) {
                masked += blk.length;
            }
            off += len;
        }

        sf_count_t put = 0;
        switch (type.io) {
        case Io::Int: put = sf_writef_int(out.f, ibuf.data(), got); break;
        case Io::Float: put = sf_writef_float(out.f, fbuf.data(), got); break;
        case Io::Double: put = sf_writef_double(out.f, dbuf.data(), got); break;
        }
        if (put != got) {
            const int err = errno;
            progress.finish();
            throw write_failed("cannot write '" + o.output + "': " +
                                        (err ? std::strerror(err) : sf_strerror(out.f)));
        }
        pos += got;
        progress.update(pos);
    }
    progress.finish();
    // A read error, or fewer frames than the header promised, means a damaged
    // or truncated input: frames would be missing from the output.
    if (sf_error(in.f) != SF_ERR_NO_ERROR) {
        throw bad_input("cannot read input '" + o.input + "' past frame " + std::to_string(pos) + ": " +
                                 sf_strerror(in.f));
    }
    if (frames >= 0 && pos < frames) {
        throw bad_input("input '" + o.input + "' is truncated or damaged: it ends after " +
                                 std::to_string(pos) + " of its " + std::to_string(frames) + " frames");
    }

    errno = 0;
    sf_write_sync(out.f);
    const int close_err = sf_close(out.f);
    out.f = nullptr;
    if (close_err != 0) {
        throw write_failed("cannot write '" + o.output + "': " + sf_error_number(close_err));
    }
    temp.commit(o.output);

    if (!o.quiet) {
        std::fprintf(stderr, "zendrik-mask: masked %zu range%s (%s) of %s in '%s'\n",
                     plan.ranges.size(), plan.ranges.size() == 1 ? "" : "s",
                     format_time(masked * 1000000000 / in_info.samplerate).c_str(),
                     format_time(pos * 1000000000 / in_info.samplerate).c_str(), o.output.c_str());
    }
}

} // namespace

std::string fallback_lv2_dir()
{
#ifdef ZENDRIK_MASK_BUILD_BIN_DIR
    char exe[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
    if (n <= 0) {
        return {};
    }
    exe[n] = '\0';
    std::string dir(exe);
    dir = dir.substr(0, dir.rfind('/'));
    char built[PATH_MAX + 1];
    struct stat st {};
    if (realpath(ZENDRIK_MASK_BUILD_BIN_DIR, built) && dir == built &&
        stat(ZENDRIK_MASK_BUILD_LV2_DIR, &st) == 0 && S_ISDIR(st.st_mode)) {
        return ZENDRIK_MASK_BUILD_LV2_DIR;
    }
#endif
    return {};
}

int run_job(const Options& options)
{
    install_signal_handlers();
    try {
        process(options);
        return 0;
    } catch (const Error& e) {
        return report(e);
    } catch (const std::bad_alloc&) {
        return report(write_failed("out of memory"));
    } catch (const std::exception& e) {
        // Caught so that the temporary output is removed on the way out.
        return report(write_failed(e.what()));
    }
}

int list_presets()
{
    try {
        Lv2Host host(ZENDRIK_MASK_URI, fallback_lv2_dir());
        for (const Preset& p : host.presets()) {
            std::string values;
            for (const auto& [symbol, value] : p.values) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%s%s=%g", values.empty() ? "" : ", ", symbol.c_str(),
                              static_cast<double>(value));
                values += buf;
            }
            std::printf("%-12s %s (%s)\n", p.name.c_str(), p.label.c_str(), values.c_str());
        }
        return 0;
    } catch (const Error& e) {
        return report(e);
    }
}

} // namespace zendrik_mask
