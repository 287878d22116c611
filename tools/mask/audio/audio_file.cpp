// SPDX-License-Identifier: ISC
#include "audio_file.h"

#include "errors.h"
#include "ogg_pages.h"
#include "sndfile_open.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <type_traits>
#include <unistd.h>

namespace zendrik_mask {

namespace {

// libsndfile opens a WAV or AIFF file cut short inside its audio as a shorter
// file, and says so only in its log, on the line of the audio chunk:
// "data : 288000 (should be 199920)". Processing it would lose the missing
// audio without a word, so the log is read for that line. A data size of
// 0xFFFFFFFF is a stream's, written before its length was known: its audio
// runs to the end of the file, and libsndfile reads it so.
bool audio_chunk_cut_short(SNDFILE* f)
{
    char log[16384] = {};
    sf_command(f, SFC_GET_LOG_INFO, log, sizeof log - 1);
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        long long declared = 0, present = 0;
        char chunk[8] = {};
        if (std::sscanf(line.c_str(), " %4s : %lld (should be %lld)", chunk, &declared, &present) == 3
            && (std::strcmp(chunk, "data") == 0 || std::strcmp(chunk, "SSND") == 0) && present < declared
            && !(std::strcmp(chunk, "data") == 0 && declared == 0xFFFFFFFF)) {
            return true;
        }
    }
    return false;
}

// How samples travel between the files and this program, one struct per
// sample type. Integer PCM is read and written as 32-bit integers: libsndfile
// moves those without rounding, so passed-through samples come out as they
// went in. Float and double formats use their own type; everything else
// (lossy codecs) goes through float.
struct IntSamples {
    using Sample = int;
    // A float cannot carry all their bits: outside the ranges they keep their own.
    static constexpr bool TAKES_ALL_PLUGIN_OUTPUT = false;

    explicit IntSamples(int bits) : tone(bits), shift(32 - bits) {}
    static sf_count_t read(InputFile& in, int* frames, sf_count_t count)
    {
        return sf_readf_int(in.handle(), frames, count);
    }
    static sf_count_t write(SNDFILE* f, const int* frames, sf_count_t count) { return sf_writef_int(f, frames, count); }
    static float to_plugin(int s) { return static_cast<float>(s) * (1.0f / 2147483648.0f); }
    int from_plugin(float y) const { return tone.from_plugin(y); }
    // libsndfile drops the low bits of the samples it writes with fewer bits,
    // which truncates passed-through samples bound for a smaller depth: they
    // are rounded here instead, to nearest, ties to even as for the tone, and
    // clipped at full scale.
    void round_to_output(int* samples, std::size_t count) const
    {
        if (shift == 0) {
            return;
        }
        const int64_t half = int64_t{1} << (shift - 1);
        const int64_t largest = (int64_t{1} << (31 - shift)) - 1;
        for (std::size_t i = 0; i < count; ++i) {
            const int64_t s = samples[i];
            int64_t q = s >> shift; // floor
            const int64_t rest = s - q * (int64_t{1} << shift);
            if (rest > half || (rest == half && (q & 1) != 0)) {
                ++q;
            }
            samples[i] = static_cast<int32_t>(static_cast<uint32_t>(std::min(q, largest)) << shift);
        }
    }

    IntegerTone tone;
    int shift; // of the output's samples in libsndfile's 32-bit ints
};

struct FloatSamples {
    using Sample = float;
    // Everything comes from the plugin, whose pass-through is exact.
    static constexpr bool TAKES_ALL_PLUGIN_OUTPUT = true;

    static sf_count_t read(InputFile& in, float* frames, sf_count_t count)
    {
        return in.mp3() ? in.mp3()->read(frames, count) : sf_readf_float(in.handle(), frames, count);
    }
    static sf_count_t write(SNDFILE* f, const float* frames, sf_count_t count)
    {
        return sf_writef_float(f, frames, count);
    }
    static float to_plugin(float s) { return s; }
    static float from_plugin(float y) { return y; }
};

struct DoubleSamples {
    using Sample = double;
    // A float cannot carry all their bits: outside the ranges they keep their own.
    static constexpr bool TAKES_ALL_PLUGIN_OUTPUT = false;

    static sf_count_t read(InputFile& in, double* frames, sf_count_t count)
    {
        return in.mp3() ? in.mp3()->read(frames, count) : sf_readf_double(in.handle(), frames, count);
    }
    static sf_count_t write(SNDFILE* f, const double* frames, sf_count_t count)
    {
        return sf_writef_double(f, frames, count);
    }
    static float to_plugin(double s) { return static_cast<float>(s); }
    static double from_plugin(float y) { return static_cast<double>(y); }
};

template <typename Samples>
class TypedFrameBuffer final : public FrameBuffer {
public:
    TypedFrameBuffer(Samples samples, std::size_t block_frames, std::size_t channel_count)
        : FrameBuffer(block_frames, channel_count), samples_(samples), frames_(block_frames * channel_count)
    {
    }

    std::size_t read(InputFile& input) override
    {
        const sf_count_t got = Samples::read(input, frames_.data(), static_cast<sf_count_t>(block_frames_));
        if (got <= 0) {
            return 0;
        }
        const auto count = static_cast<std::size_t>(got);
        for (std::size_t c = 0; c < channel_count_; ++c) {
            float* dst = plugin_input(c, 0);
            for (std::size_t i = 0; i < count; ++i) {
                dst[i] = Samples::to_plugin(frames_[i * channel_count_ + c]);
            }
        }
        return count;
    }

    bool takes_all_plugin_output() const override { return Samples::TAKES_ALL_PLUGIN_OUTPUT; }

    void take_plugin_output(std::size_t offset, std::size_t length) override
    {
        for (std::size_t c = 0; c < channel_count_; ++c) {
            const float* src = plugin_output(c, offset);
            for (std::size_t i = 0; i < length; ++i) {
                frames_[(offset + i) * channel_count_ + c] = samples_.from_plugin(src[i]);
            }
        }
    }

    void write(OutputFile& output, std::size_t count) override
    {
        const auto want = static_cast<sf_count_t>(count);
        if constexpr (std::is_same_v<Samples, IntSamples>) {
            samples_.round_to_output(frames_.data(), count * channel_count_);
        }
        if (Samples::write(output.handle(), frames_.data(), want) != want || output.write_error() != 0) {
            // Without a failed write of ours the failure is libsndfile's own,
            // which sets no errno: its own message says what went wrong.
            const int error = output.write_error();
            throw write_failed("cannot write '" + output.name()
                               + "': " + (error != 0 ? std::strerror(error) : sf_strerror(output.handle())));
        }
    }

private:
    Samples samples_;
    std::vector<typename Samples::Sample> frames_; // interleaved
};

AudioFallback& audio_fallback()
{
    static AudioFallback fallback;
    return fallback;
}

} // namespace

void set_audio_fallback(AudioFallback fallback)
{
    audio_fallback() = std::move(fallback);
}

InputFile::InputFile(const std::string& path, const AudioFallback& fallback) : path_(path)
{
    if (stat(path.c_str(), &status_) != 0) {
        const int error = errno;
        throw bad_input("cannot open input '" + path + "': " + std::strerror(error));
    }
    if (S_ISDIR(status_.st_mode)) {
        throw bad_input("input '" + path + "' is a folder");
    }
    const SndfileOpened opened = open_sndfile([&] {
        const SilencedStderr quiet;
        return sf_open(path.c_str(), SFM_READ, &info_);
    });
    file_.reset(opened.file);
    if (!file_) {
        // sf_open fails alike for a file that cannot be opened and one that is
        // not audio; open() tells which.
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            const int error = errno;
            throw bad_input("cannot open input '" + path + "': " + std::strerror(error));
        }
        ::close(fd);
        // A file of a format libsndfile knows stays refused by it; another
        // goes to the fallback, which keeps libsndfile's word for it.
        const std::string& why = opened.error;
        const AudioFallback& open_other = fallback ? fallback : audio_fallback();
        if (opened.code != SF_ERR_UNRECOGNISED_FORMAT || !open_other) {
            throw bad_input("cannot read input '" + path + "': " + why);
        }
        decoded_ = open_other(path, info_, why);
        return;
    }
    if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
        mp3_ = std::make_unique<Mp3Stream>(path, info_.samplerate, info_.channels);
        info_.frames = mp3_->frames();
    }
    if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {
        read_flac_length();
    }
    if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG) {
        const int64_t declared = check_ogg_whole(path, info_.samplerate);
        // libsndfile's own count wins when it has one: it knows where a
        // stream's first granule starts.
        if (info_.frames == SF_COUNT_MAX && declared >= 0) {
            info_.frames = declared;
        }
    }
    if ((info_.format & SF_FORMAT_SUBMASK) == SF_FORMAT_ALAC_32) {
        throw bad_input("input '" + path
                        + "' is 32-bit Apple Lossless, which libsndfile decodes wrongly; convert it to WAV or FLAC "
                          "first, e.g. ffmpeg -i INPUT -c:a pcm_s32le INPUT.wav");
    }
    if (audio_chunk_cut_short(file_.get())) {
        throw bad_input("input '" + path + "' is truncated: its header promises more audio than the file holds");
    }
}

void InputFile::read_flac_length()
{
    flac_ = std::make_unique<FlacWithoutLength>(path_);
    if (!flac_->found()) {
        return;
    }
    const int64_t decoded = flac_->decoded_frames(path_);
    const int64_t declared = flac_->declared_frames();
    if (declared > decoded) {
        throw bad_input("input '" + path_ + "' is truncated or damaged: its FLAC header promises "
                        + std::to_string(declared) + " frames, it holds " + std::to_string(decoded));
    }
    SF_INFO info{};
    const SndfileOpened opened = open_sndfile([&] { return flac_->open(info); });
    file_.reset(opened.file);
    if (!file_) {
        throw bad_input("cannot read input '" + path_ + "': " + opened.error);
    }
    info_.frames = decoded;
    if (declared != 0 && declared < decoded) {
        header_warning_ = "the FLAC header of '" + path_ + "' states " + std::to_string(declared)
            + " frames, but it holds " + std::to_string(decoded) + ": all of them are read";
    }
}

int integer_bits(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8: return 8;
    case SF_FORMAT_DWVW_12: return 12;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: return 16;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24: return 24;
    case SF_FORMAT_PCM_32: return 32;
    default: return 0;
    }
}

IntegerTone::IntegerTone(int bits) : scale_(std::ldexp(1.0, bits - 1)), shift_(32 - bits)
{
}

void InputFile::check_read_whole(int64_t frames_read) const
{
    if (decoded_) {
        // Its frames are the container's estimate: only its own word counts.
        if (!decoded_->error().empty()) {
            throw bad_input(decoded_->error());
        }
        return;
    }
    if (mp3_ && !mp3_->error().empty()) {
        throw bad_input("cannot read input '" + path_ + "' past frame " + std::to_string(frames_read) + ": "
                        + mp3_->error());
    }
    if (sf_error(file_.get()) != SF_ERR_NO_ERROR) {
        throw bad_input("cannot read input '" + path_ + "' past frame " + std::to_string(frames_read) + ": "
                        + sf_strerror(file_.get()));
    }
    if (frames() >= 0 && frames_read < frames()) {
        throw bad_input("input '" + path_ + "' is truncated or damaged: it ends after " + std::to_string(frames_read)
                        + " of its " + std::to_string(frames()) + " frames");
    }
}

OutputFile::OutputFile(int fd, SF_INFO info, const std::string& name, const InputFile& tags_from)
    : name_(name), info_(info), io_(std::make_unique<DescriptorIo>(fd))
{
    const SndfileOpened opened
        = open_sndfile([&] { return sf_open_virtual(DescriptorIo::callbacks(), SFM_WRITE, &info_, io_.get()); });
    file_.reset(opened.file);
    if (!file_) {
        throw bad_input("cannot write that format to '" + name + "': " + opened.error);
    }
    // Float samples beyond full scale bound for an integer file clip instead of wrapping round.
    sf_command(file_.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // Vorbis comments (FLAC, Ogg) are UTF-8, and libFLAC refuses other text
    // in a way libsndfile does not check: the comment it then writes is made
    // of uninitialised memory. Text from an MP3's or a WAV's tags may be
    // Latin-1.
    const int container = info_.format & SF_FORMAT_TYPEMASK;
    const bool utf8_only = container == SF_FORMAT_FLAC || container == SF_FORMAT_OGG;
    for (int s = SF_STR_FIRST; s <= SF_STR_LAST; ++s) {
        if (const char* text = sf_get_string(tags_from.handle(), s)) {
            sf_set_string(file_.get(), s, utf8_only ? as_utf8(text).c_str() : text);
        }
    }
}

void OutputFile::close()
{
    sf_write_sync(file_.get());
    const int err = sf_close(file_.release());
    if (io_->write_error() != 0) {
        throw write_failed("cannot write '" + name_ + "': " + std::strerror(io_->write_error()));
    }
    if (err != 0) {
        throw write_failed("cannot write '" + name_ + "': " + sf_error_number(err));
    }
}

std::unique_ptr<FrameBuffer> FrameBuffer::make(int input_format, int output_format, std::size_t block_frames,
                                               std::size_t channel_count)
{
    const int bits = integer_bits(output_format);
    if (bits > 0 && integer_bits(input_format) > 0) {
        return std::make_unique<TypedFrameBuffer<IntSamples>>(IntSamples(bits), block_frames, channel_count);
    }
    // Integers pass through bit for bit only when both files hold integers.
    // libsndfile does not scale float samples it reads as ints (all but
    // their sign would be lost), so a float or double input bound for an
    // integer output goes by double and libsndfile converts on writing.
    if (bits > 0 || (output_format & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE) {
        return std::make_unique<TypedFrameBuffer<DoubleSamples>>(DoubleSamples(), block_frames, channel_count);
    }
    return std::make_unique<TypedFrameBuffer<FloatSamples>>(FloatSamples(), block_frames, channel_count);
}

} // namespace zendrik_mask
